#include "export/take_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>
#include <vector>

#include "names/file_names.h"

namespace zb {

namespace {

// Closes the descriptor on every way out of the copy.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the error a delayed write may only show here.
    int release() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The folder itself (not a link to one), owned by this user, closed to everyone else.
bool isPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

QByteArray withoutTrailingSlash(const QString& folder) {
    QByteArray path = names::toBytes(folder);
    while (path.size() > 1 && path.endsWith('/')) path.chop(1);
    return path;
}

}  // namespace

QString privateTakeFolder(const QString& runtimeDir, const QString& tempDir,
                          const QString& earlier) {
    const QByteArray runtime = withoutTrailingSlash(runtimeDir);
    if (isPrivateFolder(runtime)) {
        const QByteArray folder = runtime + "/zembrola-takes";
        // An existing entry is checked like a new one: no one else can have put it there,
        // but it may be a link or a folder the user opened up.
        if ((::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST) && isPrivateFolder(folder))
            return names::fromBytes(folder) + QLatin1Char('/');
    }
    if (isPrivateFolder(withoutTrailingSlash(earlier)))
        return earlier;
    const QByteArray temp = withoutTrailingSlash(tempDir);
    if (temp.isEmpty())
        return {};
    // A new name every time, made with mode 0700: a shared folder holds nothing that another
    // user could have prepared.
    QByteArray pattern = temp + "/zembrola-takes-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return {};
    return names::fromBytes(pattern) + QLatin1Char('/');
}

CopyResult copyWithoutOverwrite(const QString& source, const QString& target) {
    const QByteArray src = names::toBytes(source);
    const QByteArray dst = names::toBytes(target);
    if (src.isEmpty())
        return {false, ENOENT};
    if (dst.isEmpty())
        return {false, EINVAL};

    Fd in(::open(src.constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return {false, errno};
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return {false, errno};
    if (!S_ISREG(st.st_mode))
        return {false, EINVAL};

    Fd out(::open(dst.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (out.get() < 0)
        return {false, errno};

    // From here on the target is ours: any failure removes it again.
    auto fail = [&](int error) {
        out.release();
        ::unlink(dst.constData());
        return CopyResult{false, error};
    };
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(in.get(), chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            break;
        if (!writeAll(out.get(), chunk.data(), static_cast<size_t>(n)))
            return fail(errno);
    }
    if (::fsync(out.get()) != 0 && errno != EINVAL && errno != EROFS)
        return fail(errno);
    if (out.release() != 0) {
        const int error = errno;
        ::unlink(dst.constData());
        return {false, error};
    }
    return {true, 0};
}

bool removeTakeFile(const QString& path) {
    const QByteArray p = names::toBytes(path);
    if (p.isEmpty())
        return true;
    if (::unlink(p.constData()) == 0)
        return true;
    return errno == ENOENT;
}

bool pathTaken(const QString& path) {
    struct stat st {};
    return ::lstat(names::toBytes(path).constData(), &st) == 0;
}

QString copyFailureText(const QString& target, const QString& takePath, int error,
                        bool takeExists) {
    if (error == EEXIST && takeExists) {
        return QStringLiteral(
                   "The take was not saved: the file \"%1\" already exists.\n"
                   "The recording is kept in \"%2\".")
            .arg(target, takePath);
    }
    if (!takeExists) {
        return QStringLiteral(
                   "The take was not saved: no recording was made (\"%1\" does not exist).")
            .arg(takePath);
    }
    return QStringLiteral(
               "The take was not saved as \"%1\": %2.\n"
               "The recording is kept in \"%3\".")
        .arg(target, QString::fromLocal8Bit(std::strerror(error)), takePath);
}

}  // namespace zb
