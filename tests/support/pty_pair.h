#pragma once

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zarvik::testing {

// A pseudo-terminal the test holds the master side of; the code under test opens the
// slave by path, exactly as it would open a serial adapter.
class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master_);
        ::unlockpt(master_);
        char name[128] = {};
        ::ptsname_r(master_, name, sizeof name);
        path_ = name;
        termios t{};
        ::tcgetattr(master_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
    }
    ~PtyPair() { close_master(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const std::string& path() const { return path_; }
    void close_master() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    void send(const std::string& bytes) const { (void)!::write(master_, bytes.data(), bytes.size()); }

private:
    int master_ = -1;
    std::string path_;
};

}  // namespace zarvik::testing
