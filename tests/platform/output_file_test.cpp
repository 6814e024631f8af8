// Where an output goes when its name is a symbolic link, or leads through
// one: the file at the end of the chain is replaced and the link stays; a
// name that leads to one of the command's open files (what /dev/stdout,
// /dev/fd/N and /proc/self/fd/N are) is written through that descriptor.
// Only links in a scratch folder are used: a test that wrote the system's
// /dev/stdout (as root) could replace it.
#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using velix::platform::OutputPlace;
using velix::platform::output_place;

TEST(OutputPlace, ALinkLeadsToTheFileItNamesAndAnOpenFileToItsDescriptor) {
    std::random_device rd;
    const fs::path dir = fs::temp_directory_path() / ("velix_place_" + std::to_string(rd()));
    fs::create_directories(dir / "shared");
    const std::string real = fs::canonical(dir).string();
    std::ofstream(dir / "shared" / "est.csv") << "old\n";
    const int open = ::open((dir / "out.lst").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(open, 0);
    const std::string fd = std::to_string(open);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::pair<const char*, std::string> links[] = {
        {"file", "shared/est.csv"},       {"chain", (dir / "file").string()}, {"dangling", "shared/new.csv"},
        {"stdout", "/proc/self/fd/" + fd}, {"devfd", "/dev/fd/" + fd},        {"pipe", "fifo"},
        {"loop1", "loop2"},                {"loop2", "loop1"},
    };
    for (const auto& [name, to] : links) fs::create_symlink(to, dir / name);
    const struct {
        const char* name;
        OutputPlace::Kind kind;
        std::string path;  // "" where only the descriptor counts
    } cases[] = {
        {"file", OutputPlace::kFile, real + "/shared/est.csv"},
        {"chain", OutputPlace::kFile, real + "/shared/est.csv"},
        {"dangling", OutputPlace::kFile, real + "/shared/new.csv"},
        {"new.csv", OutputPlace::kFile, real + "/new.csv"},
        {"stdout", OutputPlace::kDescriptor, ""},
        {"devfd", OutputPlace::kDescriptor, ""},
        {"pipe", OutputPlace::kInPlace, real + "/fifo"},
        {"loop1", OutputPlace::kInPlace, (dir / "loop1").string()},
    };
    for (const auto& c : cases) {
        const OutputPlace place = output_place((dir / c.name).string());
        EXPECT_EQ(place.kind, c.kind) << c.name;
        if (c.kind == OutputPlace::kDescriptor)
            EXPECT_EQ(place.descriptor, open) << c.name;
        else
            EXPECT_EQ(place.path, c.path) << c.name;
    }
    ::close(open);
    fs::remove_all(dir);
}

}  // namespace
