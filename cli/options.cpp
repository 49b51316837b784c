#include "options.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <iterator>
#include <vector>

#include "errors.h"
#include "loader_versions.h"
#include "numbers.h"
#include "wire.h"

namespace uxfer {

namespace {

// "272, 288 or 304": the versions the loader table holds.
std::string LoaderVersionList()
{
    std::string list;
    for (size_t i = 0; i < std::size(kLoaderVersions); ++i) {
        if (i > 0)
            list += i + 1 == std::size(kLoaderVersions) ? " or " : ", ";
        list += std::to_string(kLoaderVersions[i].version);
    }
    return list;
}

const char kExitCodes[] =
    "Exit codes:\n"
    "  0    success\n"
    "  1    bad usage (unknown command or option, missing or bad value, a range beyond the device's address\n"
    "       space, short write file without --pad)\n"
    "  2    no device at the instance, or it can't be opened\n"
    "  3    a device request or transfer failed, or the device gave no answer within --timeout\n"
    "  4    a file can't be read or written\n"
    "  5    verification found a difference\n"
    "  6    not enough memory for the transfer\n"
    "  130  cancelled (Ctrl+C, Ctrl+Break, the console closed, logoff or shutdown)\n"
    "With --json, every outcome is one JSON object on standard output; a failure has \"error\" and \"exit\".\n";

// The longest --delay: the library sleeps it, uninterruptibly, between the
// steps of every request of every process using it.
constexpr uint32_t kMaxDelayMs = 10000;
// The longest --timeout: a timer's milliseconds must fit in 31 bits.
constexpr uint32_t kMaxTimeoutSeconds = 2147483;
// The default --timeout of a transfer: a minute, and a second for every
// 128 KiB on the wire (a healthy device moves far more than that).
constexpr uint32_t kBaseTimeoutSeconds = 60;
constexpr uint32_t kWireBytesPerSecond = 128 * 1024;

// Number options are taken as text and converted after parsing, so that
// every bad value gets the same message and exit code.
struct NumberOption {
    const char* name;
    std::optional<std::string> text;
    bool allowUnit;
    uint32_t max;
    const char* limit;  // why `max` is the most, for the message
    std::optional<uint32_t>* target;
};

// What a number reaching the device may hold, and why.
constexpr uint32_t kMax16 = 0xFFFF;
constexpr char kLimit16[] = "the request carries it in a 16-bit word: at most 0xFFFF";
constexpr char kLimit32[] = "at most 0xFFFFFFFF";
constexpr char kLimitWords[] = "the byte image of a range, 2 bytes a word, must fit in 32 bits: at most 0x7FFFFFFF";

class Parser {
public:
    explicit Parser(Options& options) : options_(options) {}

    ParseResult Parse(int argc, char** argv)
    {
        CLI::App app("uxfer: device memory to and from files, device status and monitoring, over uXfer.dll",
                     "uxfer");
        app.set_version_flag("--version", "uxfer " UXFER_VERSION, "print the version and exit");
        app.require_subcommand(1);
        app.footer(kExitCodes);

        // list and watch cover every instance: they take no --instance.
        Add(app, "list", "list the present instances of the interface class", Command::List, false);
        CLI::App* read = Add(app, "read", "dump device memory into FILE ('-': standard output)", Command::Read);
        CLI::App* write = Add(app, "write", "write FILE ('-': standard input) into device memory", Command::Write);
        CLI::App* verify = Add(app, "verify", "print the device's 4-byte verification value of a range", Command::Verify);
        Add(app, "status", "print the device's 8-byte status block", Command::Status);
        CLI::App* reset = Add(app, "reset",
                              "send the reset request with CODE (default 2); it also ends a transfer another uxfer "
                              "is waiting on",
                              Command::Reset);
        CLI::App* watch = Add(app, "watch", "print a line for each arrival and removal of a device of the class",
                              Command::Watch, false);

        for (CLI::App* cmd : {read, write, verify})
            AddRange(*cmd);
        for (CLI::App* cmd : {read, write})
            AddFileOptions(*cmd, cmd == read ? "the dump file (default: forWrite of --settings)"
                                             : "the file to write (default: forRead of --settings)");
        write->add_flag("--pad", options_.pad, "fill with zeros what a short FILE lacks");
        write->add_flag("--verify", options_.verify, "read the range back and compare");
        Number(*reset, "CODE", "the reset code, 0 to 0xFFFF (default 2)", "CODE", false, kMax16, kLimit16,
               resetCode_);
        for (CLI::App* cmd : {read, write, verify})
            Number(*cmd, "--timeout",
                   "give up, cancelling as Ctrl+C does, when the device hasn't finished a transfer after this many "
                   "seconds (exit 3); 0: wait for ever; default: 60 plus 1 for every 128 KiB on the wire",
                   "SECONDS", false, kMaxTimeoutSeconds, "at most 2147483", options_.timeoutSeconds);
        Number(*watch, "--timeout", "stop after this many seconds (default, and 0: at Ctrl+C)", "SECONDS", false,
               kMaxTimeoutSeconds, "at most 2147483", options_.timeoutSeconds);

        const auto named = [&](const CLI::App* cmd) { return cmd->check_name(argv[1]); };
        const bool known = argc > 1 && !app.get_subcommands(named).empty();
        // Errors found while parsing are JSON already when --json is anywhere on the line.
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], "--json") == 0)
                FailAsJson(known ? argv[1] : nullptr);

        // CLI11 would take an unknown command for a stray argument.
        if (argc > 1 && argv[1][0] != '-' && !known)
            return {false, Fail(kExitUsage, std::string("unknown command '") + argv[1] +
                                                "' (list, read, write, verify, status, reset, watch); run 'uxfer --help'")};
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            if (e.get_exit_code() == 0) {
                app.exit(e);  // --help or --version: printed on standard output
                return {false, kExitOk};
            }
            return {false, Fail(kExitUsage, std::string(e.what()) + "; run 'uxfer --help'")};
        }
        return Convert();
    }

private:
    CLI::App* Add(CLI::App& app, const char* name, const char* description, Command command,
                  bool takesInstance = true)
    {
        CLI::App* cmd = app.add_subcommand(name, description);
        cmd->footer(kExitCodes);
        cmd->callback([this, command] { options_.command = command; });
        if (takesInstance)
            Number(*cmd, "--instance", "the device instance (default 0)", "N", false, UINT32_MAX, kLimit32,
                   instance_);
        else  // taken only to be refused with a clear message
            Number(*cmd, "--instance", "", "N", false, UINT32_MAX, kLimit32, strayInstance_)->group("");
        Number(*cmd, "--loader-version", ("the loader driver version: " + LoaderVersionList()).c_str(), "V", false,
               UINT32_MAX, kLimit32, options_.loaderVersion);
        Number(*cmd, "--delay",
               "the library's wait between status polls, at most 10000; shared by every process using the library",
               "MS", false, kMaxDelayMs, "at most 10000 ms: the library sleeps it through Ctrl+C",
               options_.delay);
        cmd->add_flag("--quiet", options_.quiet, "no progress, no informational lines; errors are still printed");
        cmd->add_flag("--json", options_.json, "print the result as one JSON object a line");
        return cmd;
    }

    void AddRange(CLI::App& cmd)
    {
        Number(cmd, "--addr", "device word address (default 0); the range must end below word 0x80000000", "A",
               true, dump::kMaxDumpSize, kLimitWords, options_.addr);
        Number(cmd, "--size", "number of device words (= file bytes in the default format); K, M: KiB, MiB", "S",
               true, dump::kMaxDumpSize, kLimitWords, options_.size);
        Number(cmd, "--mode", "index word of the request, 0 to 0xFFFF", "M", false, kMax16, kLimit16,
               options_.mode);
    }

    void AddFileOptions(CLI::App& cmd, const char* fileHelp)
    {
        cmd.add_option("FILE", options_.file, fileHelp);
        cmd.add_option("--settings", options_.settings,
                       "a Vantor DumpSet.ini: Addr, Size, readMode, writeMode, forRead, forWrite; options given here win")
            ->type_name("FILE");
        cmd.add_flag("--raw", options_.raw, "the 16-bit wire words as they are, 2 file bytes per word");
        cmd.add_flag("--no-reset", options_.noReset, "leave out the reset command before the transfer");
        cmd.add_flag("--progress", options_.progress, "show the progress line also when standard error is not a console");
    }

    CLI::Option* Number(CLI::App& cmd, const char* name, const char* help, const char* typeName, bool allowUnit,
                        uint32_t max, const char* limit, std::optional<uint32_t>& target)
    {
        numbers_.push_back({name, {}, allowUnit, max, limit, &target});
        return cmd
            .add_option_function<std::string>(
                name, [this, index = numbers_.size() - 1](const std::string& text) { numbers_[index].text = text; },
                help)
            ->type_name(typeName);
    }

    ParseResult Convert()
    {
        for (NumberOption& n : numbers_) {
            if (!n.text)
                continue;
            const std::optional<uint64_t> value = ParseNumber(*n.text, n.allowUnit);
            if (!value)
                return {false, Fail(kExitUsage, std::string(n.name) + ": '" + *n.text +
                                                    "' is not a number (decimal or 0x hexadecimal" +
                                                    (n.allowUnit ? ", K or M for KiB or MiB)" : ")"))};
            if (*value > n.max)
                return {false,
                        Fail(kExitUsage, std::string(n.name) + ": '" + *n.text + "' is too large (" + n.limit + ")")};
            *n.target = static_cast<uint32_t>(*value);
        }
        if (strayInstance_)
            return {false, Fail(kExitUsage, std::string(options_.command == Command::List ? "list" : "watch") +
                                                " covers every instance of the class: it takes no --instance")};
        if (instance_)
            options_.instance = *instance_;
        if (resetCode_)
            options_.resetCode = *resetCode_;
        if (options_.loaderVersion && !FindLoaderVersion(*options_.loaderVersion))
            return {false, Fail(kExitUsage, "--loader-version: unknown loader version " +
                                                std::to_string(*options_.loaderVersion) + " (" +
                                                LoaderVersionList() + ")")};
        return {true, kExitOk};
    }

    Options& options_;
    std::vector<NumberOption> numbers_;
    std::optional<uint32_t> instance_;
    std::optional<uint32_t> strayInstance_;  // given to list or watch
    std::optional<uint32_t> resetCode_;
};

}  // namespace

uint32_t TransferTimeout(const Options& options, uint32_t wireBytes)
{
    if (options.timeoutSeconds)
        return *options.timeoutSeconds;
    return kBaseTimeoutSeconds + wireBytes / kWireBytesPerSecond;
}

ParseResult ParseCommandLine(int argc, char** argv, Options& options)
{
    Parser parser(options);
    return parser.Parse(argc, argv);
}

}  // namespace uxfer
