// Holds a prefix's wineserver lock as a running wineserver does, until destroyed, so
// that Corvane sees Wine running for that prefix. The lock is a POSIX record lock,
// which its own process never sees as held, so a child process holds it.
#pragma once

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/platform/wine/WineServer.h"

namespace corvane::test {

class FakeWineServer {
public:
    // Where the lock is held: byte 0 as a wineserver holds it, or bytes 0 and 1 as a
    // Corvane command changing the registry holds them.
    struct At {
        std::filesystem::path dir;
        bool corvane = false;
    };

    explicit FakeWineServer(const std::filesystem::path& prefix,
                            const wine::ServerRoots& roots = {})
        : FakeWineServer(At{wine::WineServerDir(prefix, roots)}) {}

    explicit FakeWineServer(const At& at) : dir_(at.dir) {
        const off_t bytes = at.corvane ? 2 : 1;
        std::filesystem::create_directories(dir_);
        const std::string lockFile = (dir_ / "lock").string();
        int ready[2], stop[2];
        if (::pipe(ready) != 0 || ::pipe(stop) != 0) {
            ADD_FAILURE() << "no pipe";
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only calls that are safe after fork in a threaded process.
            ::close(ready[0]);
            ::close(stop[1]);
            const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = bytes;
            const char held = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? '1' : '0';
            if (::write(ready[1], &held, 1) != 1) ::_exit(1);
            char end;
            while (::read(stop[0], &end, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(stop[0]);
        stop_ = stop[1];
        char held = '0';
        EXPECT_EQ(::read(ready[0], &held, 1), 1);
        ::close(ready[0]);
        EXPECT_EQ(held, '1') << "the lock is held";
    }
    ~FakeWineServer() {
        if (stop_ >= 0) ::close(stop_); // the child ends when the pipe closes
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    FakeWineServer(const FakeWineServer&) = delete;
    FakeWineServer& operator=(const FakeWineServer&) = delete;

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    int stop_ = -1;
};

} // namespace corvane::test
