#include "usblink/id_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace usblink {

namespace {

constexpr mode_t kFileMode = 0644;
constexpr mode_t kFolderMode = 0755;
constexpr char kRuleFileHeader[] =
    "# Written by uxfer usb add: the seated user may open these devices.\n";

Result FileFailure(const std::string& what, const std::string& path, int error)
{
    return Result{Code::IoFailed, "can't " + what + " " + path + ": " + std::strerror(error)};
}

// The folder and the folders above it, as mkdir -p makes them.
Result MakeFolders(const std::string& folder)
{
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), kFolderMode) != 0 && errno != EEXIST)
            return FileFailure("make the folder", part, errno);
        if (slash == std::string::npos)
            return Ok();
    }
}

// The file's text and mode; an empty text and the default mode when there is none.
Result ReadText(const std::string& path, std::string& text, mode_t& mode)
{
    text.clear();
    mode = kFileMode;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Ok() : FileFailure("read", path, errno);
    struct stat info;
    if (fstat(fd, &info) == 0)
        mode = info.st_mode & 07777;
    char block[4096];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            close(fd);
            return FileFailure("read", path, error);
        }
        text.append(block, static_cast<size_t>(got));
    }
    close(fd);
    return Ok();
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// Replaces `path` as a whole: readers see the old text or the new, never a part.
Result ReplaceText(const std::string& path, const std::string& text, mode_t mode)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0)
        return FileFailure("write", path, errno);
    bool written = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(temporary.c_str());
        return FileFailure("write", path, error);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        unlink(temporary.c_str());
        return FileFailure("replace", path, renameError);
    }
    return Ok();
}

bool HasLine(const std::string& text, const std::string& line)
{
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (text.compare(start, end - start, line) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// `line` at the end of `path`'s text unless `present` says it is there.
Result AppendLine(const std::string& folder, const std::string& name, const std::string& line,
                  bool (*present)(const std::string& text, const std::string& line), const char* header,
                  bool& added)
{
    added = false;
    Result result = MakeFolders(folder);
    if (!result.ok())
        return result;
    const std::string path = folder + "/" + name;
    std::string text;
    mode_t mode;
    result = ReadText(path, text, mode);
    if (!result.ok() || present(text, line))
        return result;
    if (text.empty())
        text = header;
    else if (text.back() != '\n')
        text += '\n';
    text += line + "\n";
    result = ReplaceText(path, text, mode);
    added = result.ok();
    return result;
}

bool ConfigHasId(const std::string& text, const std::string& idLine)
{
    IdSet set;
    UsbId id;
    return ParseId(idLine, id) && ParseConfigText(text, std::string(), set).ok() && set.Contains(id);
}

}  // namespace

std::string UserConfigFolder(const char* xdgConfigHome, const char* home)
{
    if (xdgConfigHome && xdgConfigHome[0] == '/')
        return std::string(xdgConfigHome) + "/uxfer";
    if (home && home[0] == '/')
        return std::string(home) + "/.config/uxfer";
    return std::string();
}

std::vector<std::string> ConfigFiles(const std::string& userFolder)
{
    std::vector<std::string> files{std::string(kSystemConfigFolder) + "/" + kConfigFileName};
    if (!userFolder.empty())
        files.push_back(userFolder + "/" + kConfigFileName);
    return files;
}

AddFolders FoldersFor(Installer installer, const std::string& userFolder)
{
    if (installer == Installer::Root)
        return AddFolders{kSystemConfigFolder, kUdevRulesFolder};
    return AddFolders{userFolder, std::string()};
}

std::string UdevRule(UsbId id)
{
    const std::string text = IdText(id);
    return "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"" + text.substr(0, 4) + "\", ATTR{idProduct}==\"" +
           text.substr(5) + "\", TAG+=\"uaccess\"";
}

std::string AddCommand(UsbId id)
{
    return "uxfer usb add " + IdText(id);
}

Result AddId(UsbId id, Installer installer, const AddFolders& folders, AddOutcome& outcome)
{
    try {
        outcome = AddOutcome();
        Result result = AppendLine(folders.config, kConfigFileName, IdText(id), ConfigHasId,
                                   "# VID:PID of the devices uxfer may use, one a line.\n", outcome.configAdded);
        if (!result.ok())
            return result;
        if (installer == Installer::User) {
            outcome.rootLine = AddCommand(id);
            return Ok();
        }
        return AppendLine(folders.udevRules, kUdevRuleFileName, UdevRule(id), HasLine, kRuleFileHeader,
                          outcome.ruleAdded);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

}  // namespace usblink
