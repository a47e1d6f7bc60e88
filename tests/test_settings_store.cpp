#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "common/settings/settings_file.h"
#include "common/settings/settings_store.h"
#include "tests/support/registry_support.h"
#include "tests/support/settings_support.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

const wchar_t kProduct[] = L"Software\\Zorvex";
const wchar_t kAbsolute[] = L"Software\\ZvxSettingsTest";  // outside the product key
const wchar_t kClass[] = L"ZvxSettingsTest.Class";
const wchar_t kClsid[] = L"CLSID\\{6A1F0D52-93C1-4E0B-A7F2-5B3C9D8E1F40}";

std::wstring Product(const std::wstring& path)
{
    return path.empty() ? kProduct : std::wstring(kProduct) + L"\\" + path;
}

// Every test starts registry-only with none of its keys present, and leaves it so.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    void Clean()
    {
        SetRegistryView(0);
        FreeSettingsFile();
        file_.Clean();
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
                EXPECT_TRUE(DeleteTree(root, kProduct, view));
                EXPECT_TRUE(DeleteTree(root, kAbsolute, view));
            }
        }
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
            EXPECT_TRUE(DeleteTree(HKEY_CLASSES_ROOT, kClass, view));
            EXPECT_TRUE(DeleteTree(HKEY_CLASSES_ROOT, kClsid, view));
        }
    }

    // A settings file that the next store operation finds.
    void UseSettingsFile(const std::wstring& lines)
    {
        ASSERT_TRUE(WriteBytes(file_.Path(), Utf16LeFile(lines)));
        FreeSettingsFile();
        LoadSettingsFile();
    }

    std::wstring SavedFile()
    {
        std::string bytes;
        EXPECT_TRUE(SaveSettingsFile());
        EXPECT_TRUE(ReadBytes(file_.Path(), bytes));
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    }

    static DWORD RegDword(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0)
    {
        long long value = DwordOf(root, path, name, view);
        return value < 0 ? 0xBAD : static_cast<DWORD>(value);
    }

    static std::wstring RegText(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0)
    {
        DWORD type = 0;
        std::string data;
        if (!GetRaw(root, path, name, type, data, view) || type != REG_SZ)
            return L"<none>";
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
        if (text.empty() || text.back() != 0)
            return L"<unterminated>";
        text.pop_back();
        return text;
    }

    AppDataSettingsFile file_;
};

TEST_F(StoreTest, WithoutAFileEveryRootGoesToTheRegistry)
{
    EXPECT_EQ(0, WriteUserString(L"Setup\\Links", L"Name", L"text"));
    EXPECT_EQ(L"text", RegText(HKEY_CURRENT_USER, Product(L"Setup\\Links"), L"Name"));
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(GetRaw(HKEY_CURRENT_USER, Product(L"Setup\\Links"), L"Name", type, data));
    EXPECT_EQ(10u, data.size());  // the terminator is stored too

    EXPECT_EQ(0, WriteInt(HKEY_LOCAL_MACHINE, L"", L"Count", 0xFFFFFFFEu));
    EXPECT_EQ(0xFFFFFFFEu, RegDword(HKEY_LOCAL_MACHINE, kProduct, L"Count"));
    EXPECT_EQ(-2, ReadInt(HKEY_LOCAL_MACHINE, L"", L"Count", 0));

    EXPECT_EQ(0, WriteString(HKEY_CURRENT_USER, L"\\Software\\ZvxSettingsTest\\Abs", L"", L"abs"));
    EXPECT_EQ(L"abs", RegText(HKEY_CURRENT_USER, std::wstring(kAbsolute) + L"\\Abs", L""));

    EXPECT_EQ(0, WriteString(HKEY_CLASSES_ROOT, kClass, L"", L"cls"));
    wchar_t buffer[16];
    EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, kClass, L"", buffer, L"def", 16));
    EXPECT_STREQ(L"cls", buffer);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClass));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup\\Missing"));

    // The null root addresses only a settings file; without one nothing answers.
    EXPECT_EQ(7, ReadInt(nullptr, L"Global", L"Integration", 7));
    EXPECT_NE(0, WriteInt(nullptr, L"Global", L"Integration", 1));
    EXPECT_FALSE(KeyExists(nullptr, L"Global"));
    EXPECT_FALSE(KeyExists(nullptr, L""));
    EXPECT_TRUE(IntegrationAllowed());
    EXPECT_FALSE(SaveSettingsFile());
}

TEST_F(StoreTest, WithAFileOnlyTheProductKeysGoToIt)
{
    UseSettingsFile(L"HKCU\\Setup\\Links\\Desktop=1\r\n");
    EXPECT_EQ(1, ReadUserInt(L"Setup\\Links", L"Desktop", 0));
    EXPECT_EQ(0, WriteUserString(L"Setup", L"Name", L"user"));
    EXPECT_EQ(0, WriteInt(HKEY_LOCAL_MACHINE, L"Capabilities", L"Machine", 5));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, kProduct));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kProduct));

    // Absolute paths and the classes root always reach the registry.
    EXPECT_EQ(0, WriteString(HKEY_CURRENT_USER, L"\\Software\\ZvxSettingsTest", L"v", L"abs"));
    EXPECT_EQ(L"abs", RegText(HKEY_CURRENT_USER, kAbsolute, L"v"));
    EXPECT_EQ(0, WriteInt(HKEY_LOCAL_MACHINE, L"\\Software\\Zorvex\\Abs", L"v", 3));
    EXPECT_EQ(3u, RegDword(HKEY_LOCAL_MACHINE, Product(L"Abs"), L"v"));
    EXPECT_EQ(0, WriteString(HKEY_CLASSES_ROOT, kClass, L"", L"cls"));
    EXPECT_EQ(L"cls", RegText(HKEY_CLASSES_ROOT, kClass, L""));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClass));
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClass);
    EXPECT_FALSE(HasKey(HKEY_CLASSES_ROOT, kClass));

    // The null root reads and writes the file's own flags.
    EXPECT_EQ(1, ReadInt(nullptr, L"Global", L"SaveSettings", 7));
    EXPECT_TRUE(KeyExists(nullptr, L"Global"));

    EXPECT_EQ(L"\uFEFF"
              L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"
              L"HKCU\\Setup\\Links\\Desktop=1\r\nHKCU\\Setup\\Name=\"user\"\r\n"
              L"HKLM\\Capabilities\\Machine=5\r\n",
              SavedFile());
}

TEST_F(StoreTest, AClosedGateAnswersDefaultsAndTouchesNoKey)
{
    // Keys that exist before: the gate must hide them and keep them.
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, kClass, L"", REG_SZ, L"old", 8));
    DWORD five = 5;
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, kClass, L"n", REG_DWORD, &five, 4));
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, std::wstring(kClass) + L"\\Sub", L"", REG_SZ, L"s", 4));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kAbsolute, L"n", REG_DWORD, &five, 4));

    UseSettingsFile(L"Global\\Integration=0\r\n");
    EXPECT_FALSE(IntegrationAllowed());

    wchar_t buffer[16];
    EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, kClass, L"", buffer, L"def", 16));
    EXPECT_STREQ(L"def", buffer);
    EXPECT_EQ(-1, ReadInt(HKEY_CLASSES_ROOT, kClass, L"n", -1));
    EXPECT_EQ(-1, ReadInt(HKEY_CURRENT_USER, L"\\Software\\ZvxSettingsTest", L"n", -1));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClass));

    EXPECT_EQ(0, WriteString(HKEY_CLASSES_ROOT, kClass, L"", L"new"));
    EXPECT_EQ(0, WriteInt(HKEY_CLASSES_ROOT, L"ZvxSettingsTest.Other", L"n", 1));
    EXPECT_EQ(0, WriteString(HKEY_LOCAL_MACHINE, L"\\Software\\ZvxSettingsTest", L"v", L"x"));
    DeleteValue(HKEY_CLASSES_ROOT, kClass, L"n");
    DeleteKey(HKEY_CLASSES_ROOT, std::wstring(kClass).append(L"\\Sub").c_str());
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClass);
    DeleteKeyTree(HKEY_CURRENT_USER, L"\\Software\\ZvxSettingsTest");

    EXPECT_EQ(L"old", RegText(HKEY_CLASSES_ROOT, kClass, L""));
    EXPECT_EQ(5u, RegDword(HKEY_CLASSES_ROOT, kClass, L"n"));
    EXPECT_TRUE(HasKey(HKEY_CLASSES_ROOT, std::wstring(kClass) + L"\\Sub"));
    EXPECT_TRUE(HasKey(HKEY_CURRENT_USER, kAbsolute));
    EXPECT_FALSE(HasKey(HKEY_CLASSES_ROOT, L"ZvxSettingsTest.Other"));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kAbsolute));

    // The product keys still live in the file.
    EXPECT_EQ(0, WriteUserInt(L"Setup", L"Kept", 9));
    EXPECT_EQ(9, ReadUserInt(L"Setup", L"Kept", 0));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, kProduct));

    // Without the file the gate is open again.
    FreeSettingsFile();
    file_.Clean();
    EXPECT_EQ(5, ReadInt(HKEY_CLASSES_ROOT, kClass, L"n", -1));
    EXPECT_TRUE(IntegrationAllowed());
}

TEST_F(StoreTest, ReadIntTakesOnlyFourByteNumbers)
{
    const std::wstring key = Product(L"Ints");
    DWORD dword = 0x12345678;
    uint16_t two = 7;
    uint64_t eight = 9;
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Dword", REG_DWORD, &dword, 4));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Bin4", REG_BINARY, &dword, 4));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Bin2", REG_BINARY, &two, 2));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Bin8", REG_BINARY, &eight, 8));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Qword", REG_QWORD, &eight, 8));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Text", REG_SZ, L"0", 4));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Empty", REG_BINARY, nullptr, 0));

    EXPECT_EQ(0x12345678, ReadUserInt(L"Ints", L"Dword", -1));
    EXPECT_EQ(0x12345678, ReadUserInt(L"Ints", L"Bin4", -1));
    EXPECT_EQ(-1, ReadUserInt(L"Ints", L"Bin2", -1));
    EXPECT_EQ(-1, ReadUserInt(L"Ints", L"Bin8", -1));
    EXPECT_EQ(-1, ReadUserInt(L"Ints", L"Qword", -1));
    EXPECT_EQ(-1, ReadUserInt(L"Ints", L"Text", -1));
    EXPECT_EQ(-1, ReadUserInt(L"Ints", L"Empty", -1));
    EXPECT_EQ(-1, ReadUserInt(L"Ints", L"Missing", -1));
    EXPECT_EQ(-1, ReadUserInt(L"NoSuchKey", L"Dword", -1));
}

TEST_F(StoreTest, ReadStringNeverHandsOnACutValue)
{
    ASSERT_EQ(0, WriteUserString(L"Str", L"Fits", L"abcd"));
    ASSERT_EQ(0, WriteUserString(L"Str", L"Long", L"abcde"));
    ASSERT_EQ(0, WriteUserString(L"Str", L"Empty", L""));
    // Text without a terminator: exactly the buffer's size, and one less. (Windows
    // and Wine count a terminator in when the character after the data is one, so
    // another character follows the data here.)
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, Product(L"Str"), L"Bare5", REG_SZ, L"abcdeZ", 10));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, Product(L"Str"), L"Bare4", REG_SZ, L"abcdZ", 8));

    wchar_t buffer[5];
    EXPECT_TRUE(ReadUserString(L"Str", L"Fits", buffer, L"def", 5));
    EXPECT_STREQ(L"abcd", buffer);
    EXPECT_FALSE(ReadUserString(L"Str", L"Long", buffer, L"def", 5));
    EXPECT_STREQ(L"def", buffer);
    EXPECT_TRUE(ReadUserString(L"Str", L"Empty", buffer, L"def", 5));
    EXPECT_STREQ(L"", buffer);
    EXPECT_FALSE(ReadUserString(L"Str", L"Bare5", buffer, L"def", 5));
    EXPECT_STREQ(L"def", buffer);
    EXPECT_TRUE(ReadUserString(L"Str", L"Bare4", buffer, L"def", 5));
    EXPECT_STREQ(L"abcd", buffer);
    EXPECT_FALSE(ReadUserString(L"Str", L"Missing", buffer, L"def", 5));
    EXPECT_STREQ(L"def", buffer);
    EXPECT_FALSE(ReadUserString(L"NoSuchKey", L"Fits", buffer, L"def", 5));
    EXPECT_STREQ(L"def", buffer);
}

TEST_F(StoreTest, TextIsReadOnlyInATextTypeAndTypedValuesKeepTheirOwn)
{
    const std::wstring key = Product(L"Typed");
    const BYTE binary[] = {'O', 0, 'k', 0};  // the bytes of text, but binary data
    const DWORD seven = 7;
    const wchar_t expand[] = L"%TEMP%\\x";
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Binary", REG_BINARY, binary, 4));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Dword", REG_DWORD, &seven, 4));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Multi", REG_MULTI_SZ, L"a\0b\0", 10));
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Expand", REG_EXPAND_SZ, expand, sizeof expand));

    wchar_t buffer[16];
    for (const wchar_t* name : {L"Binary", L"Dword", L"Multi"}) {
        EXPECT_FALSE(ReadUserString(L"Typed", name, buffer, L"def", 16)) << name;
        EXPECT_STREQ(L"def", buffer) << name;
    }
    EXPECT_TRUE(ReadUserString(L"Typed", L"Expand", buffer, L"def", 16));
    EXPECT_STREQ(L"%TEMP%\\x", buffer);  // as stored, not expanded

    // Typed values: any type, byte for byte, never cut.
    BYTE data[16];
    DWORD type = 0;
    DWORD bytes = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, ReadTypedValue(HKEY_CURRENT_USER, L"Typed", L"Binary", type, data, bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    ASSERT_EQ(4u, bytes);
    EXPECT_EQ(0, memcmp(binary, data, 4));
    bytes = 3;
    EXPECT_EQ(ERROR_MORE_DATA, ReadTypedValue(HKEY_CURRENT_USER, L"Typed", L"Binary", type, data, bytes));
    EXPECT_EQ(0u, bytes);
    bytes = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadTypedValue(HKEY_CURRENT_USER, L"Typed", L"Missing", type, data, bytes));
    bytes = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadTypedValue(HKEY_CURRENT_USER, L"NoSuchKey", L"x", type, data, bytes));

    const BYTE odd[] = {1, 2, 3};
    EXPECT_EQ(0, WriteTypedValue(HKEY_CLASSES_ROOT, kClass, L"Odd", REG_BINARY, odd, 3));
    EXPECT_EQ(0, WriteTypedValue(HKEY_CLASSES_ROOT, kClass, L"", REG_EXPAND_SZ, expand, sizeof expand));
    EXPECT_EQ(0, WriteTypedValue(HKEY_CLASSES_ROOT, kClass, L"Seven", REG_DWORD, &seven, 4));
    std::string raw;
    ASSERT_TRUE(GetRaw(HKEY_CLASSES_ROOT, kClass, L"Odd", type, raw));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(std::string("\x01\x02\x03", 3), raw);
    ASSERT_TRUE(GetRaw(HKEY_CLASSES_ROOT, kClass, L"", type, raw));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ(std::string("%\0T\0E\0M\0P\0%\0\\\0x\0\0\0", 18), raw);
    EXPECT_EQ(7, DwordOf(HKEY_CLASSES_ROOT, kClass, L"Seven"));

    // The settings file keeps no types: what it would serve is refused and stored
    // nowhere; absolute paths still reach the registry.
    UseSettingsFile(L"HKCU\\Typed\\Text=\"file\"\r\n");
    bytes = sizeof data;
    EXPECT_EQ(ERROR_INVALID_FUNCTION, ReadTypedValue(HKEY_CURRENT_USER, L"Typed", L"Text", type, data, bytes));
    EXPECT_EQ(ERROR_INVALID_FUNCTION, WriteTypedValue(HKEY_LOCAL_MACHINE, L"Typed", L"Odd", REG_BINARY, odd, 3));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, Product(L"Typed")));
    EXPECT_EQ(0, WriteTypedValue(HKEY_LOCAL_MACHINE, L"\\Software\\ZvxSettingsTest", L"Odd", REG_BINARY, odd, 3));
    bytes = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS,
              ReadTypedValue(HKEY_LOCAL_MACHINE, L"\\Software\\ZvxSettingsTest", L"Odd", type, data, bytes));
    EXPECT_EQ(3u, bytes);
    EXPECT_EQ(L"\uFEFF"
              L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"
              L"HKCU\\Typed\\Text=\"file\"\r\n",
              SavedFile());
}

TEST_F(StoreTest, DeleteKeyLeavesAKeyWithSubkeysAndDeleteValueOneValue)
{
    ASSERT_EQ(0, WriteUserInt(L"Del", L"a", 1));
    ASSERT_EQ(0, WriteUserInt(L"Del", L"b", 2));
    ASSERT_EQ(0, WriteUserInt(L"Del\\Sub", L"c", 3));

    DeleteKey(HKEY_CURRENT_USER, L"Del");
    EXPECT_EQ(1u, RegDword(HKEY_CURRENT_USER, Product(L"Del"), L"a"));
    DeleteUserValue(L"Del", L"a");
    EXPECT_EQ(-1, ReadUserInt(L"Del", L"a", -1));
    EXPECT_EQ(2, ReadUserInt(L"Del", L"b", -1));

    DeleteKey(HKEY_CURRENT_USER, L"Del\\Sub");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Del\\Sub"));
    DeleteKey(HKEY_CURRENT_USER, L"Del");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Del"));

    // The classes root with an empty path is the root itself: never deleted.
    ASSERT_EQ(0, WriteString(HKEY_CLASSES_ROOT, kClass, L"", L"x"));
    DeleteKey(HKEY_CLASSES_ROOT, L"");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"");
    EXPECT_TRUE(HasKey(HKEY_CLASSES_ROOT, kClass));
}

TEST_F(StoreTest, DeleteKeyTreeRemovesAWideDeepTree)
{
    const std::wstring longName(255, L'n');
    for (int a = 0; a < 6; a++) {
        std::wstring l1 = L"Tree\\A" + std::to_wstring(a);
        for (int b = 0; b < 6; b++) {
            std::wstring l2 = l1 + L"\\B" + std::to_wstring(b);
            for (int c = 0; c < 6; c++)
                ASSERT_EQ(0, WriteUserInt((l2 + L"\\C" + std::to_wstring(c)).c_str(), L"v", 1));
            ASSERT_EQ(0, WriteUserInt(l2.c_str(), L"v", 1));
        }
    }
    ASSERT_EQ(0, WriteUserString((L"Tree\\" + longName + L"\\Below").c_str(), L"", L"x"));
    ASSERT_EQ(0, WriteUserString((L"Tree\\A0\\" + longName).c_str(), L"", L"x"));
    ASSERT_EQ(0, WriteInt(HKEY_LOCAL_MACHINE, L"Other", L"v", 1));

    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, kProduct));
    EXPECT_TRUE(HasKey(HKEY_LOCAL_MACHINE, Product(L"Other")));

    ASSERT_EQ(0, WriteString(HKEY_CLASSES_ROOT, (std::wstring(kClass) + L"\\shell\\open\\command").c_str(), L"",
                             L"x"));
    ASSERT_EQ(0, WriteString(HKEY_CLASSES_ROOT, (std::wstring(kClass) + L"\\DefaultIcon").c_str(), L"", L"x"));
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClass);
    EXPECT_FALSE(HasKey(HKEY_CLASSES_ROOT, kClass));
}

TEST_F(StoreTest, TheViewBitsReachThe32BitRegistry)
{
    SetRegistryView(KEY_WOW64_32KEY);
    EXPECT_EQ(0, WriteString(HKEY_CLASSES_ROOT, kClsid, L"", L"32-bit"));
    EXPECT_EQ(0, WriteInt(HKEY_LOCAL_MACHINE, L"\\Software\\ZvxSettingsTest", L"v", 32));
    wchar_t buffer[16];
    EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, kClsid, L"", buffer, L"def", 16));
    EXPECT_STREQ(L"32-bit", buffer);
    EXPECT_EQ(32, ReadInt(HKEY_LOCAL_MACHINE, L"\\Software\\ZvxSettingsTest", L"v", -1));
    SetRegistryView(0);

    EXPECT_TRUE(HasKey(HKEY_CLASSES_ROOT, kClsid, KEY_WOW64_32KEY));
    EXPECT_FALSE(HasKey(HKEY_CLASSES_ROOT, kClsid));
    EXPECT_EQ(32u, RegDword(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\ZvxSettingsTest", L"v"));
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, kAbsolute));
    EXPECT_FALSE(ReadString(HKEY_CLASSES_ROOT, kClsid, L"", buffer, L"def", 16));
    EXPECT_EQ(-1, ReadInt(HKEY_LOCAL_MACHINE, L"\\Software\\ZvxSettingsTest", L"v", -1));
}

TEST_F(StoreTest, PathsAndNamesThatDoNotFitAreRefusedNotCut)
{
    // 16 characters of "Software\Zorvex\" and these 505 make 521, beyond 511.
    const std::wstring a(250, L'a');
    const std::wstring b(250, L'b');
    const std::wstring longPath = L"Cut\\" + a + L"\\" + b;
    const std::wstring cutKey = (std::wstring(kProduct) + L"\\" + longPath).substr(0, 511);
    DWORD five = 5;
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, cutKey, L"v", REG_DWORD, &five, 4));

    EXPECT_EQ(-1, ReadUserInt(longPath.c_str(), L"v", -1));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, longPath.c_str()));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteUserInt(longPath.c_str(), L"w", 1));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteUserString(longPath.c_str(), L"w", L"x"));
    DeleteUserValue(longPath.c_str(), L"v");
    DeleteKey(HKEY_CURRENT_USER, (longPath + L"b").c_str());
    DeleteKeyTree(HKEY_CURRENT_USER, longPath.c_str());
    EXPECT_EQ(5u, RegDword(HKEY_CURRENT_USER, cutKey, L"v"));
    EXPECT_EQ(0xBADu, RegDword(HKEY_CURRENT_USER, cutKey, L"w"));

    // In the file: "HKCU\K\" and 1020 characters make 1027, beyond 1023.
    const std::wstring x(1020, L'x');
    const std::wstring cutName = (L"HKCU\\K\\" + x).substr(0, 1023);
    UseSettingsFile(cutName + L"=5\r\n");
    EXPECT_EQ(-1, ReadUserInt(L"K", x.c_str(), -1));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteUserInt(L"K", x.c_str(), 1));
    DeleteUserValue(L"K", x.c_str());
    EXPECT_EQ(5, ReadUserInt(L"K", x.substr(0, 1016).c_str(), -1));
}

}  // namespace
