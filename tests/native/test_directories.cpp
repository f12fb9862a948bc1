#include <filesystem>

#include "machine.h"
#include "store/directories.h"

using Directories = Machine;

TEST_F(Directories, DataBesideTheProgramWithoutMarker) {
    set_up_directories(1);
    EXPECT_EQ(os_test_host_path(program_dir), dir);
    EXPECT_STREQ(data_dir, program_dir);
}

TEST_F(Directories, MarkerMovesDataToTheUserFolder) {
    write("DefSet.txt", "");
    std::filesystem::create_directory(dir + "appdata");
    os_test_set_appdata(os_test_windows_path(dir + "appdata"));
    set_up_directories(1);
    EXPECT_EQ(os_test_host_path(data_dir), dir + "appdata/Brenlo/Pendulark/");
    EXPECT_TRUE(std::filesystem::is_directory(dir + "appdata/Brenlo/Pendulark"));
    // Asked not to decide, the data stays beside the program.
    set_up_directories(0);
    EXPECT_STREQ(data_dir, program_dir);
}

TEST_F(Directories, RemovableDriveKeepsDataBesideTheProgram) {
    write("DefSet.txt", "");
    os_test_set_appdata(os_test_windows_path(dir));
    os_test_set_drive_type(DRIVE_REMOVABLE);
    set_up_directories(1);
    EXPECT_STREQ(data_dir, program_dir);
}

TEST_F(Directories, ProgramNotFoundLeavesBothEmpty) {
    os_test_set_program_path("");
    set_up_directories(1);
    EXPECT_STREQ(program_dir, "");
    EXPECT_STREQ(data_dir, "");
    // A path that does not fit the buffer is treated as not found.
    os_test_set_program_path("\\" + std::string(700, 'a') + "\\Pendulark.exe");
    set_up_directories(1);
    EXPECT_STREQ(program_dir, "");
}
