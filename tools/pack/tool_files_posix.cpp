// glimmer-pack's system layer on Linux: file descriptors, the *at calls for
// the extraction folder, fork and exec, signals.
#include "tool_files.h"

#include "interrupt_table.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const char* const kPathSeparators = "/";
const char* const kStubFromProgram = "../share/glimmer-pack/stub.exe";

std::vector<std::string> StartTool(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

std::string SystemProblem() { return std::strerror(errno); }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

namespace {

int Fd(ToolFile file) { return static_cast<int>(file); }

void Describe(const struct stat& st, FileFacts* facts) {
    facts->kind = S_ISREG(st.st_mode)   ? FileKind::Regular
                  : S_ISDIR(st.st_mode) ? FileKind::Folder
                  : S_ISLNK(st.st_mode) ? FileKind::Link
                                        : FileKind::Other;
    facts->volume = static_cast<std::uint64_t>(st.st_dev);
    facts->index = static_cast<std::uint64_t>(st.st_ino);
    facts->size = static_cast<std::uint64_t>(st.st_size);
}

bool LookAtFrom(int folder, const std::string& path, int flags, FileFacts* facts) {
    struct stat st;
    if (fstatat(folder, path.c_str(), &st, flags) != 0) {
        if (errno != ENOENT) return false;
        *facts = FileFacts();
        return true;
    }
    Describe(st, facts);
    return true;
}

}  // namespace

bool LookAt(const std::string& path, bool followLinks, FileFacts* facts) {
    return LookAtFrom(AT_FDCWD, path, followLinks ? 0 : AT_SYMLINK_NOFOLLOW, facts);
}

ToolFile OpenToRead(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return fd < 0 ? kNoToolFile : fd;
}

bool FactsOf(ToolFile file, FileFacts* facts) {
    struct stat st;
    if (fstat(Fd(file), &st) != 0) return false;
    Describe(st, facts);
    return true;
}

std::int64_t ReadSome(ToolFile file, void* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = read(Fd(file), buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool WriteAll(ToolFile file, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(Fd(file), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAt(ToolFile file, std::uint64_t offset, const void* data, std::size_t size) {
    return SeekTo(file, offset) && WriteAll(file, data, size);
}

bool SeekTo(ToolFile file, std::uint64_t offset) {
    return lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::int64_t PositionOf(ToolFile file) { return lseek(Fd(file), 0, SEEK_CUR); }

bool CutAt(ToolFile file, std::uint64_t size) {
    return ftruncate(Fd(file), static_cast<off_t>(size)) == 0 && SeekTo(file, size);
}

bool FlushToDisk(ToolFile file) { return fsync(Fd(file)) == 0; }

bool CloseFile(ToolFile file) { return close(Fd(file)) == 0; }

// ---- The platform table: file descriptors, like every file of this layer ---------------------

namespace {

OsFile TableOpenRead(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    return fd < 0 ? kNoFile : fd;
}

// The tool creates its files through this layer, never by a name given to
// the installer's code.
OsFile TableRefuseCreate(const char*) {
    errno = EPERM;
    return kNoFile;
}

std::int32_t TableRead(OsFile file, void* buffer, std::uint32_t size) {
    return static_cast<std::int32_t>(ReadSome(file, buffer, size));
}

std::int32_t TableWrite(OsFile file, const void* buffer, std::uint32_t size) {
    return WriteAll(file, buffer, size) ? static_cast<std::int32_t>(size) : -1;
}

std::int64_t TableSeek(OsFile file, std::int64_t position) {
    return position >= 0 && SeekTo(file, static_cast<std::uint64_t>(position)) ? position : -1;
}

std::int64_t TableSize(OsFile file) {
    FileFacts facts;
    return FactsOf(file, &facts) ? static_cast<std::int64_t>(facts.size) : -1;
}

void TableClose(OsFile file) {
    if (file != kNoFile) close(Fd(file));
}

Platform MakeTable() {
    Platform table = kPosixPlatform;
    table.FileOpenRead = TableOpenRead;
    table.FileCreate = TableRefuseCreate;
    table.FileOpenAppend = TableRefuseCreate;
    table.FileRead = TableRead;
    table.FileWrite = TableWrite;
    table.FileSeek = TableSeek;
    table.FileTell = PositionOf;
    table.FileSize = TableSize;
    table.FileClose = TableClose;
    return table;
}

// Six characters for a temporary name.
std::string RandomSuffix() {
    static std::mt19937_64 random(std::random_device{}());
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
    return suffix;
}

}  // namespace

const Platform* ToolPlatform() {
    static const Platform table = MakeTable();
    return &table;
}

ToolFile CreateTemporary(std::string* pattern) {
    int fd = mkostemp(pattern->data(), O_CLOEXEC);
    if (fd < 0) return kNoToolFile;
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0777 & ~mask);
    return fd;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool CopyPermissions(const std::string& from, const std::string& to) {
    struct stat st;
    return stat(from.c_str(), &st) == 0 && chmod(to.c_str(), st.st_mode & 07777) == 0;
}

bool MakeFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) errno = error.value();
    return !error;
}

std::string MakeTemporaryFolder(const std::string& base) {
    std::string pattern = base + ".XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";
}

bool RemoveEmptyFolder(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
    DIR* folder = opendir(path.c_str());
    if (!folder) return false;
    names->clear();
    errno = 0;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    const int failure = errno;
    closedir(folder);
    errno = failure;
    return failure == 0;
}

std::string CurrentFolder() {
    std::string folder(4096, '\0');
    if (!getcwd(folder.data(), folder.size())) return "";
    folder.resize(std::strlen(folder.c_str()));
    return folder;
}

// ---- The extraction folder ----------------------------------------------------------------

bool OpenFolder(const std::string& path, ToolFolder* folder) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    folder->path = path;
    folder->handle = fd;
    return true;
}

void CloseFolder(ToolFolder* folder) {
    if (folder->handle >= 0) close(static_cast<int>(folder->handle));
    folder->handle = -1;
}

bool LookIn(const ToolFolder& folder, const std::string& name, FileFacts* facts) {
    return LookAtFrom(static_cast<int>(folder.handle), name, AT_SYMLINK_NOFOLLOW, facts);
}

ToolFile CreateTemporaryIn(const ToolFolder& folder, const std::string& prefix, std::string* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + RandomSuffix();
        const int fd = openat(static_cast<int>(folder.handle), name->c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    name->clear();
    return kNoToolFile;
}

bool RenameIn(const ToolFolder& folder, const std::string& from, const std::string& to, bool replace) {
    const int fd = static_cast<int>(folder.handle);
    if (replace) return renameat(fd, from.c_str(), fd, to.c_str()) == 0;
    if (renameat2(fd, from.c_str(), fd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: a hard link fails on an
    // existing name too.
    if (linkat(fd, from.c_str(), fd, to.c_str(), 0) != 0) return false;
    unlinkat(fd, from.c_str(), 0);
    return true;
}

bool RemoveIn(const ToolFolder& folder, const std::string& name) {
    return unlinkat(static_cast<int>(folder.handle), name.c_str(), 0) == 0;
}

// ---- Programs -------------------------------------------------------------------------------

std::string ProgramPath() {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof self - 1) return "";
    return std::string(self, static_cast<std::size_t>(length));
}

bool FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        // An empty entry stands for the current folder.
        const std::string folder = end > start ? folders.substr(start, end - start) : std::string(".");
        if (access((folder + "/" + name).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

namespace {

// What an interrupt removes, and the program running meanwhile.
InterruptTable<char, 4u << 20> g_interruptTable;
volatile sig_atomic_t g_child = 0;

void RemoveAndExit(int signal) {
    if (g_child > 0) {
        kill(g_child, SIGKILL);
        waitpid(g_child, nullptr, 0);
    }
    g_interruptTable.RemoveAll([](const char* file) { unlink(file); }, [](const char* folder) { rmdir(folder); });
    std::_Exit(128 + signal);
}

void CatchSignals() {
    static bool caught = false;
    if (caught) return;
    caught = true;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = RemoveAndExit;
        // The handler runs alone: a second signal waits until it has ended
        // the program.
        sigemptyset(&action.sa_mask);
        for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

int RemoveOnInterrupt(const std::string& path, bool folder) {
    CatchSignals();
    if (path.find('\0') != std::string::npos) return -1;
    return g_interruptTable.Add(path.c_str(), path.size(), folder);
}

void KeepOnInterrupt(int slot) { g_interruptTable.Take(slot); }

namespace {
sigset_t g_maskBeforeHold;
}  // namespace

void HoldInterrupts() {
    CatchSignals();
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &g_maskBeforeHold);
}

void ReleaseInterrupts() {
    // A signal that came meanwhile is delivered here; errno stays as the
    // held step left it, for its caller to report.
    const int error = errno;
    sigprocmask(SIG_SETMASK, &g_maskBeforeHold, nullptr);
    errno = error;
}

int RunCollecting(const std::vector<std::string>& args, std::string* output) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return -1;
    }
    if (child == 0) {
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, STDIN_FILENO);
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    g_child = child;
    CatchSignals();
    close(pipeEnds[1]);
    char buffer[4096];
    for (;;) {
        ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output->append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            g_child = 0;
            return -1;
        }
    }
    g_child = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- The terminal ---------------------------------------------------------------------------

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::size_t TerminalColumns() {
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}
