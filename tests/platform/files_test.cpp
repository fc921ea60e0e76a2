// Files, folders and paths as the logs, the settings and the startup entry use them.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/pending_error.h"

namespace ktr::platform {
namespace {

struct Files : ::testing::Test {
    ~Files() override {
        set_event_recorder({});
        clear_pending_error();
    }
    std::string path(const std::string& name) const { return join_path(dir_.path(), name); }
    std::string contents_of(const std::string& file) const {
        std::string contents;
        return read_file(file, contents) ? contents : "<unreadable>";
    }
    testing::TempDir dir_;
};

// The file kept open and the one-off appends both land at the end, in order, and another program may
// rotate the log while the module holds it: the module's next one-off append starts a new file.
TEST_F(Files, AppendsInterleaveAndTheLogCanBeRotatedWhileOpen) {
    const std::string log = path("log.txt"), rotated = path("log.1");
    EXPECT_FALSE(file_exists(log));
    ASSERT_TRUE(append_to_file(log, "one\r\n"));
    AppendFile open;
    ASSERT_TRUE(open.open(log));
    EXPECT_TRUE(open.write("two\r\n") && append_to_file(log, "three\r\n") && open.write("four\r\n"));
    EXPECT_EQ(contents_of(log), "one\r\ntwo\r\nthree\r\nfour\r\n");
    std::error_code error;
    std::filesystem::rename(log, rotated, error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_TRUE(append_to_file(log, "new\r\n") && open.write("five\r\n"));
    open.close();
    EXPECT_FALSE(open.write("lost"));
    EXPECT_EQ(contents_of(log) + "|" + contents_of(rotated), "new\r\n|one\r\ntwo\r\nthree\r\nfour\r\nfive\r\n");
    EXPECT_TRUE(remove_file(log));
    EXPECT_FALSE(file_exists(log) || remove_file(log) || pending_error().number == 0);
}

// A folder where a file belongs is neither written nor read, and is reported once however often it is met.
TEST_F(Files, AFolderInPlaceOfAFileIsRefusedAndReportedOnce) {
    std::vector<std::string> events;
    set_event_recorder([&](std::string_view, int type, int32_t, std::string_view text) {
        events.push_back(std::to_string(type) + " " + std::string(text));
        return true;
    });
    const std::string folder = path("sub");
    std::filesystem::create_directory(folder);
    AppendFile file;
    EXPECT_FALSE(append_to_file(folder, "x") || file.open(folder) || contents_of(folder) != "<unreadable>");
    const std::string why = folder + " is not a regular file: skipped. Replace it with a plain file or remove it.";
    EXPECT_EQ(pending_error().description, why);
    EXPECT_EQ(events, std::vector<std::string>{"2 " + why});
    EXPECT_TRUE(file_exists(folder));
}

// The short form names the same file (on POSIX the path itself); a path that is not there has none.
TEST_F(Files, ShortNamesOfExistingPathsOnly) {
    std::filesystem::create_directory(path("A Long Folder Name"));
    const std::string file = join_path(path("A Long Folder Name"), "settings file.txt");
    ASSERT_TRUE(append_to_file(file, "x"));
    EXPECT_EQ(contents_of(short_path_name(file)), "x") << short_path_name(file);
    EXPECT_EQ(short_path_name(path("missing")) + short_path_name(join_path(path("missing"), "here.exe")), "");
}

TEST(Paths, TheSystemsSeparatorAndTheProgramFolder) {
    struct Row { const char *folder, *name, *joined; };
#ifdef _WIN32
    const Row joins[] = {{"C:\\Ktr", "a.txt", "C:\\Ktr\\a.txt"}, {"C:\\", "a.txt", "C:\\a.txt"},
                         {"C:/Ktr/", "a.txt", "C:/Ktr/a.txt"}, {"", "a.txt", "\\a.txt"}};
    const std::pair<const char*, const char*> homes[] = {{"C:\\Ktr\\\\", "C:\\Ktr"}, {"C:\\", "C:\\"}, {"D:/Svc/", "D:/Svc"}};
#else
    const Row joins[] = {{"/opt/ktr", "a.txt", "/opt/ktr/a.txt"}, {"/", "a.txt", "/a.txt"}, {"", "a.txt", "/a.txt"}};
    const std::pair<const char*, const char*> homes[] = {{"/opt/ktr//", "/opt/ktr"}, {"/", "/"}};
#endif
    for (const auto& r : joins) EXPECT_EQ(join_path(r.folder, r.name), r.joined);
    for (const auto& [home, folder] : homes) {
        testing::ScopedEnv env("KTRSVC_HOME", home);
        EXPECT_EQ(program_folder(), folder) << home;
    }
    // Without it, the folder the program runs from.
    testing::ScopedEnv none("KTRSVC_HOME", nullptr);
    const std::string exe = executable_path(), folder = program_folder();
    EXPECT_TRUE(file_exists(exe)) << exe;
    EXPECT_TRUE(exe.size() > folder.size() && exe.rfind(folder, 0) == 0) << exe << " in " << folder;
}

} // namespace
} // namespace ktr::platform
