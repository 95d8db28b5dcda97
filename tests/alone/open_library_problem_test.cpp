// Opening the card when its library is not to be had, or lacks an entry: the
// module loads and answers without it, and open shows one box naming what is
// missing and returns 1; once the whole library is put in place, the next open
// succeeds. Built three times, into folders of their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "loader/module.h"
#include "tests/support/message_boxes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

bool CardLibraryLoaded() {
#ifdef _WIN32
  return GetModuleHandleA("ttlcdacc.dll") != nullptr;
#else
  void* handle = dlopen("./ttlcdacc.dll", RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);
  }
  return handle != nullptr;
#endif
}

#ifdef EXPECTED_MISSING
TEST(OpenWithoutWholeLibrary, ShowsOneBoxNamingWhatIsMissingAndFails) {
  Module module;
  ASSERT_EQ(module.Load(MORVALIND_BIN_DIR "/Morvalind.dev"), LoadStatus::kOk) << module.error();
  DeviceInterfaceInfo info{};
  EXPECT_EQ(module.get_interface_info()(&info), 0);
  EXPECT_FALSE(CardLibraryLoaded()) << "the card library is loaded only by open";

  const DeviceInterface& entries = module.entries();
  for (int attempt = 0; attempt < 2; ++attempt) {
    MessageBoxWatcher boxes;
    EXPECT_EQ(entries.open(), 1);
    ASSERT_EQ(boxes.Shown().size(), 1U);
    EXPECT_EQ(boxes.Shown()[0].caption, "Error");
    EXPECT_NE(boxes.Shown()[0].text.find(EXPECTED_MISSING), std::string::npos)
        << boxes.Shown()[0].text;
    EXPECT_TRUE(boxes.Shown()[0].ok_button_only);
  }
  EXPECT_EQ(entries.close(), 1);
  TuningRecord tuning{};
  tuning.primary_value = 1;
  EXPECT_EQ(entries.tune(&tuning), 1);
}
#else
// Puts a copy of `library` beside the program under the card library's name,
// as a new file, the way an installer replaces it.
void PlaceCardLibrary(const char* library) {
  std::filesystem::remove("ttlcdacc.dll.new");
  std::filesystem::copy_file(library, "ttlcdacc.dll.new");
  std::filesystem::rename("ttlcdacc.dll.new", "ttlcdacc.dll");
}

TEST(OpenAfterTheLibraryIsMended, AnIncompleteLibraryIsLetGoAndTheWholeOneOpens) {
  PlaceCardLibrary(INCOMPLETE_LIBRARY);
  Module module;
  ASSERT_EQ(module.Load(MORVALIND_BIN_DIR "/Morvalind.dev"), LoadStatus::kOk) << module.error();
  const DeviceInterface& entries = module.entries();
  {
    MessageBoxWatcher boxes;
    EXPECT_EQ(entries.open(), 1);
    ASSERT_EQ(boxes.Shown().size(), 1U);
    EXPECT_NE(boxes.Shown()[0].text.find("CDVBFrontend::SetChannel"), std::string::npos);
  }
  EXPECT_FALSE(CardLibraryLoaded()) << "a library that failed to bind is let go";
  ASSERT_NO_THROW(PlaceCardLibrary(COMPLETE_LIBRARY));
  MessageBoxWatcher boxes;
  EXPECT_EQ(entries.open(), 0);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(entries.close(), 0);
}
#endif

}  // namespace
