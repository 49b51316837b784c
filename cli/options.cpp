#include "options.h"

#include <CLI/CLI.hpp>

#include <vector>

#include "errors.h"
#include "numbers.h"

namespace uxfer {

namespace {

const char kExitCodes[] =
    "Exit codes:\n"
    "  0    success\n"
    "  1    bad usage (unknown command or option, missing or bad value, short write file without --pad)\n"
    "  2    no device at the instance, or it can't be opened\n"
    "  3    a device request or transfer failed\n"
    "  4    a file can't be read or written\n"
    "  5    verification found a difference\n"
    "  130  cancelled (Ctrl+C or Ctrl+Break)\n";

// Number options are taken as text and converted after parsing, so that
// every bad value gets the same message and exit code.
struct NumberOption {
    const char* name;
    std::optional<std::string> text;
    bool allowUnit;
    std::optional<uint32_t>* target;
};

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

        Add(app, "list", "list the present instances of the interface class", Command::List);
        CLI::App* read = Add(app, "read", "dump device memory into FILE ('-': standard output)", Command::Read);
        CLI::App* write = Add(app, "write", "write FILE ('-': standard input) into device memory", Command::Write);
        CLI::App* verify = Add(app, "verify", "print the device's 4-byte verification value of a range", Command::Verify);
        Add(app, "status", "print the device's 8-byte status block", Command::Status);
        CLI::App* reset = Add(app, "reset", "send the reset request with CODE (default 2)", Command::Reset);
        CLI::App* watch = Add(app, "watch", "print a line for each arrival and removal of a device of the class",
                              Command::Watch);

        for (CLI::App* cmd : {read, write, verify})
            AddRange(*cmd);
        for (CLI::App* cmd : {read, write})
            AddFileOptions(*cmd, cmd == read ? "the dump file (default: forWrite of --settings)"
                                             : "the file to write (default: forRead of --settings)");
        write->add_flag("--pad", options_.pad, "fill with zeros what a short FILE lacks");
        write->add_flag("--verify", options_.verify, "read the range back and compare");
        reset->add_option("CODE", resetCodeText_, "the reset code (default 2)");
        Number(*watch, "--timeout", "stop after this many seconds (default: at Ctrl+C)", "SECONDS", false,
               options_.timeoutSeconds);

        // CLI11 would take an unknown command for a stray argument.
        const auto named = [&](const CLI::App* cmd) { return cmd->check_name(argv[1]); };
        if (argc > 1 && argv[1][0] != '-' && app.get_subcommands(named).empty())
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
    CLI::App* Add(CLI::App& app, const char* name, const char* description, Command command)
    {
        CLI::App* cmd = app.add_subcommand(name, description);
        cmd->footer(kExitCodes);
        cmd->callback([this, command] { options_.command = command; });
        Number(*cmd, "--instance", "the device instance (default 0)", "N", false, instance_);
        Number(*cmd, "--loader-version", "the loader driver version: 272, 288 or 304", "V", false,
               options_.loaderVersion);
        Number(*cmd, "--delay", "the library's wait between status polls; shared by every process using the library",
               "MS", false, options_.delay);
        cmd->add_flag("--quiet", options_.quiet, "no progress, no informational lines; errors are still printed");
        cmd->add_flag("--json", options_.json, "print the result as one JSON object a line");
        return cmd;
    }

    void AddRange(CLI::App& cmd)
    {
        Number(cmd, "--addr", "device word address (default 0)", "A", true, options_.addr);
        Number(cmd, "--size", "number of device words (= file bytes in the default format); K, M: KiB, MiB", "S",
               true, options_.size);
        Number(cmd, "--mode", "index word of the request (low 16 bits)", "M", false, options_.mode);
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

    void Number(CLI::App& cmd, const char* name, const char* help, const char* typeName, bool allowUnit,
                std::optional<uint32_t>& target)
    {
        numbers_.push_back({name, {}, allowUnit, &target});
        cmd.add_option_function<std::string>(
               name, [this, index = numbers_.size() - 1](const std::string& text) { numbers_[index].text = text; },
               help)
            ->type_name(typeName);
    }

    ParseResult Convert()
    {
        for (NumberOption& n : numbers_) {
            if (!n.text)
                continue;
            uint32_t value = 0;
            if (!ParseNumber(*n.text, n.allowUnit, value))
                return {false, Fail(kExitUsage, std::string(n.name) + ": '" + *n.text +
                                                    "' is not a number (decimal or 0x hexadecimal" +
                                                    (n.allowUnit ? ", K or M for KiB or MiB)" : ")"))};
            *n.target = value;
        }
        if (instance_)
            options_.instance = *instance_;
        if (!resetCodeText_.empty() && !ParseNumber(resetCodeText_, false, options_.resetCode))
            return {false, Fail(kExitUsage, "reset: CODE '" + resetCodeText_ + "' is not a number")};
        if (options_.loaderVersion && *options_.loaderVersion != 272 && *options_.loaderVersion != 288 &&
            *options_.loaderVersion != 304)
            return {false, Fail(kExitUsage, "--loader-version: unknown loader version " +
                                                std::to_string(*options_.loaderVersion) + " (272, 288 or 304)")};
        return {true, kExitOk};
    }

    Options& options_;
    std::vector<NumberOption> numbers_;
    std::optional<uint32_t> instance_;
    std::string resetCodeText_;
};

}  // namespace

ParseResult ParseCommandLine(int argc, char** argv, Options& options)
{
    Parser parser(options);
    return parser.Parse(argc, argv);
}

}  // namespace uxfer
