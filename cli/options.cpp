#include "options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "dump/classes.h"
#include "dump/numbers.h"
#include "errors.h"
#include "loader_versions.h"
#include "platform.h"

namespace cli {

namespace {

// The longest --delay: the library sleeps it, uninterruptibly, between the
// steps of every request of every process using it.
constexpr uint32_t kMaxDelayMs = 10000;

// Options go after the command, and the docs call it a command.
class HelpFormat : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        if (app->get_parent())
            return CLI::Formatter::make_usage(app, name);
        return "Usage: " + name + " COMMAND [OPTIONS]\n";
    }
};

// The edits that turn one name into the other (letters added, left out,
// changed or swapped), for a "did you mean".
size_t Distance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        for (size_t j = 0; j <= b.size(); ++j) {
            if (i == 0 || j == 0) {
                d[i][j] = i + j;
                continue;
            }
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// "unknown option --szie (did you mean --size?)" for the first option on the
// line that `command` doesn't have; empty when it has them all.
std::string UnknownOption(const CLI::App& command, int argc, char** argv)
{
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.size() < 3 || argument.compare(0, 2, "--") != 0)
            continue;
        const std::string name = argument.substr(0, argument.find('='));
        if (command.get_option_no_throw(name))
            continue;
        std::string nearest;
        size_t best = 3;  // farther is no likely slip
        for (const CLI::Option* option : command.get_options())
            for (const std::string& known : option->get_lnames())
                if (!option->get_group().empty()) {
                    const size_t distance = Distance(name, "--" + known);
                    if (distance < best) {
                        best = distance;
                        nearest = "--" + known;
                    }
                }
        return "unknown option " + name + (nearest.empty() ? "" : " (did you mean " + nearest + "?)");
    }
    return {};
}

// `uxfer --simulate list`: the line with the command first.
std::string CommandFirst(int argc, char** argv, int command)
{
    std::string line = std::string("uxfer ") + argv[command];
    for (int i = 1; i < argc; ++i)
        if (i != command)
            line += std::strchr(argv[i], ' ') ? std::string(" \"") + argv[i] + "\"" : std::string(" ") + argv[i];
    return line;
}

class Parser {
public:
    explicit Parser(CommonOptions& common) : common_(common) {}

    ParseResult Parse(int argc, char** argv)
    {
        CLI::App app(std::string("uxfer: device memory to and from files, device status and monitoring, over ") +
                         kDeviceAccess,
                     "uxfer");
        app.formatter(std::make_shared<HelpFormat>());
        app.set_version_flag("--version", "uxfer " UXFER_VERSION, "print the version and exit");
        app.require_subcommand(1);
        const std::string exitCodes = ExitCodeHelp();
        app.footer(exitCodes);
        std::string names;
        for (size_t i = 0; i < kCommandCount; ++i) {
            Add(app, kCommands[i], exitCodes);
            names += std::string(i ? ", " : "") + kCommands[i].name;
        }

        const auto named = [&](const CLI::App* cmd) { return cmd->check_name(argv[1]); };
        const bool known = argc > 1 && !app.get_subcommands(named).empty();
        // Errors found while parsing are JSON already when --json is anywhere on the line.
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], "--json") == 0)
                FailAsJson(known ? argv[1] : nullptr);

        // CLI11 would take an unknown command for a stray argument.
        if (argc > 1 && argv[1][0] != '-' && !known)
            return {nullptr, Fail(kExitUsage, std::string("unknown command '") + argv[1] + "' (" + names +
                                                  "); run 'uxfer --help'")};
        if (argc > 1 && argv[1][0] == '-' && !app.get_option_no_throw(argv[1])) {
            for (int i = 2; i < argc; ++i)
                if (!app.get_subcommands([&](const CLI::App* cmd) { return cmd->check_name(argv[i]); }).empty())
                    return {nullptr, Fail(kExitUsage, std::string("options come after the command: '") +
                                                          CommandFirst(argc, argv, i) + "'; run 'uxfer " + argv[i] +
                                                          " --help'")};
            return {nullptr, Fail(kExitUsage, std::string("options come after the command (") + names + "): 'uxfer " +
                                                  "COMMAND " + argv[1] + "'; run 'uxfer --help'")};
        }
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            if (e.get_exit_code() == 0) {
                app.exit(e);  // --help or --version: printed on standard output
                return {nullptr, kExitOk};
            }
            if (!known)
                return {nullptr, Fail(kExitUsage, std::string(e.what()) + "; run 'uxfer --help'")};
            const CLI::App& command = *app.get_subcommand(argv[1]);
            const std::string unknown = UnknownOption(command, argc, argv);
            return {nullptr, Fail(kExitUsage, (unknown.empty() ? std::string(e.what()) : unknown) + "; run 'uxfer " +
                                                  command.get_name() + " --help'")};
        }
        return Convert();
    }

private:
    void Add(CLI::App& app, const Command& command, const std::string& exitCodes)
    {
        CLI::App* cmd = app.add_subcommand(command.name, command.description)->group("Commands");
        cmd->footer(exitCodes);
        cmd->callback([this, &command] { chosen_ = &command; });
        if (command.takesInstance)
            numbers_.Add(*cmd, "--instance", "the device instance (default 0)", "N", false, UINT32_MAX, kLimit32,
                         instance_);
        else  // taken only to be refused with a clear message
            numbers_.Add(*cmd, "--instance", "", "N", false, UINT32_MAX, kLimit32, strayInstance_)->group("");
        numbers_.Add(*cmd, "--loader-version", LoaderVersionHelp().c_str(), "V", false, UINT32_MAX, kLimit32,
                     common_.loaderVersion);
        numbers_.Add(*cmd, "--delay",
                     "the library's wait between status polls, at most 10000; shared by every process using the "
                     "library",
                     "MS", false, kMaxDelayMs, "at most 10000 ms: the library sleeps it through Ctrl+C",
                     common_.delay);
        cmd->add_flag("--quiet", common_.quiet, "no progress, no informational lines; errors are still printed");
        cmd->add_flag("--json", common_.json, "print the result as one JSON object a line");
        cmd->add_flag("--simulate", common_.simulate, kSimulateHelp);
        AddDeviceOptions(*cmd, common_);
        if (command.addOptions)
            command.addOptions(*cmd, numbers_);
    }

    ParseResult Convert()
    {
        if (const int code = numbers_.Convert())
            return {nullptr, code};
        if (strayInstance_)
            return {nullptr, Fail(kExitUsage, std::string(chosen_->name) +
                                                  " covers every instance of the class: it takes no --instance")};
        if (instance_)
            common_.instance = *instance_;
        if (common_.loaderVersion) {
            if (const std::string refusal = LoaderVersionRefusal(common_.simulate); !refusal.empty())
                return {nullptr, Fail(kExitUsage, refusal)};
            if (!FindLoaderVersion(*common_.loaderVersion))
                return {nullptr, Fail(kExitUsage, "--loader-version: unknown loader version " +
                                                      std::to_string(*common_.loaderVersion) + " (" +
                                                      dump::LoaderVersionList() + ")")};
        }
        return {chosen_, kExitOk};
    }

    CommonOptions& common_;
    NumberOptions numbers_;
    const Command* chosen_ = nullptr;
    std::optional<uint32_t> instance_;
    std::optional<uint32_t> strayInstance_;  // given to a command that covers every instance
};

}  // namespace

CLI::Option* NumberOptions::Add(CLI::App& command, const char* name, const char* help, const char* typeName,
                                bool allowUnit, uint32_t max, const char* limit, std::optional<uint32_t>& target)
{
    numbers_.push_back({name, {}, allowUnit, max, limit, &target});
    return command
        .add_option_function<std::string>(
            name, [this, index = numbers_.size() - 1](const std::string& text) { numbers_[index].text = text; }, help)
        ->type_name(typeName);
}

int NumberOptions::Convert()
{
    for (Number& n : numbers_) {
        if (!n.text)
            continue;
        uint64_t value = 0;
        const std::string problem = dump::NumberProblem(n.name, *n.text, n.allowUnit, n.max, n.limit, value);
        if (!problem.empty())
            return Fail(kExitUsage, problem);
        *n.target = static_cast<uint32_t>(value);
    }
    return kExitOk;
}

ParseResult ParseCommandLine(int argc, char** argv, CommonOptions& common)
{
    Parser parser(common);
    return parser.Parse(argc, argv);
}

}  // namespace cli
