// Where an output goes when its name is a symbolic link, or leads through
// one: the file at the end of the chain is replaced and the link stays; a
// name that leads to one of the command's open files (what /dev/stdout,
// /dev/fd/N and /proc/self/fd/N are) is written through that descriptor.
// Only links in a scratch folder are used: a test that wrote the system's
// /dev/stdout (as root) could replace it.  And the scratch files and
// second names of an output are made only where nothing has their name,
// and a file replaced keeps its permissions and owner.
#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "tests/support/open_files.h"

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

std::string text_of(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Commits a new est.csv over an earlier one in a fresh folder, with a link
// to a file outside it at the name its scratch file draws first and
// another run's file at the name its second name draws first.  What went
// wrong, "" when nothing did.
std::string commit_beside_planted_names() {
    char tmpl[] = "/tmp/velix_names_XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return "no scratch folder";
    const fs::path dir = tmpl;
    fs::create_directory(dir / "outside");
    std::ofstream(dir / "outside" / "victim") << "victim\n";
    std::ofstream(dir / "est.csv") << "old\n";
    const std::string drawn = "-0123456789abcdef.tmp";
    const std::string pid = std::to_string(::getpid());
    const fs::path link = dir / (".velix-" + pid + "-0" + drawn);
    const fs::path theirs = dir / (".velix-" + pid + "-0-old" + drawn);
    fs::create_symlink(dir / "outside" / "victim", link);
    std::ofstream(theirs) << "theirs\n";

    velix::platform::inject_name_bits(0x0123456789abcdefULL, 2);  // each name's first draw
    velix::platform::OutputFile file;
    std::string error, wrong;
    file.open((dir / "est.csv").string(), "0", &error);
    file.stream() << "new\n";
    if (!file.complete(&error) || !file.keep_old(&error) || !file.replace(&error) || !file.forget_old(&error))
        wrong += "the commit failed: " + error + "; ";
    velix::platform::clear_injected_move_failures();
    if (text_of(dir / "est.csv") != "new\n") wrong += "est.csv holds " + text_of(dir / "est.csv") + "; ";
    if (text_of(dir / "outside" / "victim") != "victim\n") wrong += "the link was followed; ";
    if (!fs::is_symlink(link)) wrong += "the planted link was replaced; ";
    if (text_of(theirs) != "theirs\n") wrong += "the other run's file was changed or removed; ";
    size_t left = 0;
    for (const auto& e : fs::directory_iterator(dir)) left += e.path().filename().string().rfind(".velix-", 0) == 0;
    if (left != 2) wrong += std::to_string(left) + " scratch names in the folder, not the 2 planted; ";
    fs::remove_all(dir);
    return wrong;
}

// Expects `commit` (what went wrong, "" when nothing did) to find nothing
// wrong here and in a child process whose file system makes no unnamed
// files (its scratch files named from the start).
void expect_right_with_and_without_unnamed_files(std::string (*commit)()) {
    EXPECT_EQ(commit(), "");
    EXPECT_EXIT(
        {
            if (!velix::test::refuse_unnamed_files()) std::_Exit(2);
            const std::string wrong = commit();
            std::fputs(wrong.c_str(), stderr);
            std::_Exit(wrong.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << "where the file system makes no unnamed files";
}

// A scratch file or a second name made where a link or another run's file
// had that name used to follow the link (writing the file outside the
// folder), or to remove and replace the other run's file.
TEST(OutputFile, ANameFoundTakenIsNeitherFollowedNorReplaced) {
    expect_right_with_and_without_unnamed_files(commit_beside_planted_names);
}

// Commits three files in a fresh folder under the umask 027: est.csv over
// a private file (0600, given to nobody when run as root), out.lst over
// one open to its group (0664) and new.csv where there was none.  Each
// scratch file must be no more open than the file it replaces while it is
// written; a replaced file keeps its permissions, owner and group, and a
// new one has what the umask leaves.  What went wrong, "" when nothing did.
std::string commit_with_permissions() {
    char tmpl[] = "/tmp/velix_modes_XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return "no scratch folder";
    const fs::path dir = tmpl;
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    const struct {
        const char* name;
        mode_t earlier;  // 0: none
        mode_t after;
    } files[] = {{"est.csv", 0600, 0600}, {"out.lst", 0664, 0664}, {"new.csv", 0, 0640}};
    for (const auto& f : files) {
        if (f.earlier == 0) continue;
        std::ofstream(dir / f.name) << "old\n";
        ::chmod((dir / f.name).c_str(), f.earlier);
    }
    if (root && ::chown((dir / "est.csv").c_str(), kNobody, kNobody) != 0) return "est.csv cannot be given away";
    const auto octal = [](mode_t mode) {
        char text[8];
        std::snprintf(text, sizeof text, "0%o", static_cast<unsigned>(mode & 07777));
        return std::string(text);
    };
    const mode_t mask = ::umask(027);
    std::string wrong;
    for (const auto& f : files) {
        velix::platform::OutputFile file;
        std::string error;
        if (!file.open((dir / f.name).string(), "0", &error)) {
            wrong += std::string(f.name) + " cannot be opened: " + error + "; ";
            continue;
        }
        struct stat st;
        if (f.earlier != 0 && ::fstat(file.buffer()->fd(), &st) == 0 && (st.st_mode & 0777 & ~f.earlier) != 0)
            wrong += std::string(f.name) + " is written in a file more open than it: " + octal(st.st_mode) + "; ";
        file.stream() << "new\n";
        if (!file.commit(&error)) wrong += std::string(f.name) + " was not committed: " + error + "; ";
        if (::stat((dir / f.name).c_str(), &st) != 0) continue;
        if ((st.st_mode & 07777) != f.after)
            wrong += std::string(f.name) + " has mode " + octal(st.st_mode) + ", not " + octal(f.after) + "; ";
        if (root && f.name == std::string("est.csv") && (st.st_uid != kNobody || st.st_gid != kNobody))
            wrong += "est.csv is owned by " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + "; ";
    }
    ::umask(mask);
    fs::remove_all(dir);
    return wrong;
}

// A replaced output came back 0644 whatever its mode was: a private
// OUTSTAT= became readable by everyone after the next run.
TEST(OutputFile, AReplacedFileKeepsItsPermissionsAndANewOneTakesTheUmask) {
    expect_right_with_and_without_unnamed_files(commit_with_permissions);
}

}  // namespace
