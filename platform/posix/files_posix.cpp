#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <set>

#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

std::string g_program_folder;
bool g_program_folder_set = false;

bool write_all(int fd, std::string_view text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_pending_error_from_errno(errno);
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Opens without blocking (a FIFO without a writer or reader would hang the one thread) and keeps the
// descriptor only for a regular file. Anything else is refused, and reported once per path where an
// operator looks.
int open_regular(const std::string& path, int flags) {
    struct stat st {};
    const bool special = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    if (!special) {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
        if (fd < 0 && errno != ENXIO) {
            set_pending_error_from_errno(errno);
            return -1;
        }
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            // Back to ordinary writes and reads: a regular file never blocks anyway.
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (fd >= 0) ::close(fd);
    }
    const std::string text = path + " is not a regular file: skipped. Replace it with a plain file or remove it.";
    set_pending_error(EINVAL, text);
    static std::set<std::string> reported;
    if (reported.insert(path).second) {
        std::fprintf(stderr, "Ktrsvc: %s\n", text.c_str());
        report_system_event("Ktrsvc", static_cast<int>(EventType::warning), 0, text);
    }
    return -1;
}

} // namespace

std::string executable_path() {
    char buf[PATH_MAX + 1] = {};
    const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string program_folder() {
    if (g_program_folder_set) return g_program_folder;
    if (auto home = get_env("KTRSVC_HOME"); home && !home->empty()) {
        std::string h = *home;
        while (h.size() > 1 && h.back() == '/') h.pop_back();
        return h;
    }
    const std::string exe = executable_path();
    const auto slash = exe.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : exe.substr(0, slash);
}

void set_program_folder(std::string folder) {
    // An empty folder returns to the default (KTRSVC_HOME or the executable's folder).
    g_program_folder_set = !folder.empty();
    g_program_folder = std::move(folder);
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

OpenResult try_open_for_reading(const std::string& path) {
    // Non-blocking, so that a FIFO does not hang the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return OpenResult::ok;
    }
    if (errno == ENOENT || errno == ENOTDIR) return OpenResult::not_found;
    return OpenResult::other_error;
}

bool append_to_file(const std::string& path, std::string_view text) {
    const int fd = open_regular(path, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) return false;
    const bool ok = write_all(fd, text);
    if (::close(fd) != 0 && ok) {
        set_pending_error_from_errno(errno);
        return false;
    }
    return ok;
}

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path) {
    close();
    file_ = handle_of(open_regular(path, O_WRONLY | O_APPEND | O_CREAT));
    return file_.valid();
}

bool AppendFile::write(std::string_view text) {
    if (!file_.valid()) return false;
    return write_all(fd_of(file_), text);
}

void AppendFile::close() {
    if (file_.valid()) {
        ::close(fd_of(file_));
        file_ = kNoHandle;
    }
}

bool read_file(const std::string& path, std::string& contents) {
    const int fd = open_regular(path, O_RDONLY);
    if (fd < 0) return false;
    contents.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_pending_error_from_errno(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        contents.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool remove_file(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        set_pending_error_from_errno(errno);
        return false;
    }
    return true;
}

} // namespace ktr::platform
