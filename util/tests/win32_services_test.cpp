// The Windows backend's registry and keyboard services, checked against the system's own state.
#include <windows.h>

#include <gtest/gtest.h>

#include "util/files.h"
#include "util/registry.h"

namespace quillon {
namespace {

std::string ReadRegistry(const char* keyPath, const char* name) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return "<no value>";
  return buffer;
}

TEST(WriteRegString, CreatesTheKeyAndWritesTheValue) {
  const char* path = "software\\Pelmora\\QuillonTest\\Nested";
  RegDeleteKeyA(HKEY_CURRENT_USER, path);
  WriteRegString(RegistryRoot::CurrentUser, path, "Path", "C:\\Program Files\\Quillon\\");
  EXPECT_EQ(ReadRegistry(path, "Path"), "C:\\Program Files\\Quillon\\");
  WriteRegString(RegistryRoot::CurrentUser, path, "Path", "D:\\q\\");
  EXPECT_EQ(ReadRegistry(path, "Path"), "D:\\q\\");
  RegDeleteKeyA(HKEY_CURRENT_USER, path);
  RegDeleteKeyA(HKEY_CURRENT_USER, "software\\Pelmora\\QuillonTest");
}

TEST(IsKeyDown, FollowsTheThreadsKeyState) {
  BYTE keys[256] = {};
  ASSERT_TRUE(SetKeyboardState(keys));
  EXPECT_FALSE(IsKeyDown(VK_CONTROL));
  keys[VK_CONTROL] = 0x80;
  ASSERT_TRUE(SetKeyboardState(keys));
  EXPECT_TRUE(IsKeyDown(VK_CONTROL));
  keys[VK_CONTROL] = 0x01;  // toggled but not down
  ASSERT_TRUE(SetKeyboardState(keys));
  EXPECT_FALSE(IsKeyDown(VK_CONTROL));
}

}  // namespace
}  // namespace quillon
