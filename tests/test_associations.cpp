// File associations, saved former owners, volume extensions, new-file entries,
// templates and program identifiers, against the Wine registry and real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/base_support.h"
#include "tests/support/integration_fixture.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"
#include "uninstall/integration/associations.h"

namespace {

using testsupport::DwordOf;
using testsupport::HasKey;
using testsupport::HasValue;
using testsupport::InProgramFolder;
using testsupport::SetDword;
using testsupport::SetString;
using testsupport::StringOf;

const HKEY kClasses = HKEY_CLASSES_ROOT;
const wchar_t kMissing[] = L"<missing>";

// The expected bytes are put together at run time, like the program's own, so that
// this test program's image holds no complete signature either.
const std::string kZvxTail("vx!\x1A\x07\x01\x00\xC1\xDF\x5F\x56\x03\x01\x04\x00\x1D\x77\x56\x51\x03\x05\x04\x00", 23);
const std::string kZipTail("K\x05\x06", 3);
const std::string kZvxTemplate = std::string(1, 'Z') + kZvxTail;
const std::string kZipTemplate = std::string(1, 'P') + kZipTail + std::string(18, '\0');

std::wstring Saved(const std::wstring& ext)
{
    return L"Software\\Zorvex\\Setup\\" + ext;
}

const wchar_t kRecord[] = L"Software\\Zorvex\\Record";

std::wstring Recorded(const std::wstring& ext)
{
    return std::wstring(kRecord) + L"\\Types\\" + ext;
}

std::wstring Volume(int n)
{
    wchar_t name[8];
    swprintf(name, 8, L".r%02d", n);
    return name;
}

std::string FileBytes(const std::wstring& path)
{
    std::string bytes;
    testsupport::ReadBytes(path, bytes);
    return bytes;
}

class Associations : public testsupport::IntegrationTest {};

TEST(AssociationTableRows, RowsBoxesAndExtensionsAsTheDialogShowsThem)
{
    // Rows 4 and 13 sit before rows 5 and 14 although their boxes have the higher ids.
    const int boxes[kAssociationRows] = {5101, 5102, 5103, 5104, 5115, 5105, 5106, 5107, 5108,
                                         5109, 5110, 5111, 5112, 5114, 5113, 5116, 5117, 5118};
    const wchar_t* const all[] = {L".zvx", L".zip", L".cab", L".arj", L".lz", L".tlz", L".lzh", L".lha",
                                  L".7z", L".tar", L".gz", L".tgz", L".uue", L".xxe", L".uu", L".bz2",
                                  L".tbz2", L".bz", L".tbz", L".jar", L".iso", L".z", L".taz", L".xz",
                                  L".txz", L".zipx", L".zst", L".tzst", L".001"};
    std::vector<std::wstring> found;
    for (int row = 0; row < kAssociationRows; ++row) {
        EXPECT_EQ(boxes[row], AssociationTable[row].CheckBoxId) << "row " << row;
        const wchar_t* position = AssociationTable[row].Extensions;
        wchar_t ext[kExtensionChars];
        bool first = true;
        while (NextExtension(position, ext, kExtensionChars)) {
            if (first) {
                EXPECT_STREQ(AssociationTable[row].Primary, ext) << "row " << row;
            }
            first = false;
            found.push_back(ext);
        }
    }
    EXPECT_EQ(std::vector<std::wstring>(std::begin(all), std::end(all)), found);

    // An extension that does not fit is never handed out cut.
    const wchar_t* position = L".tbz2.bz";
    wchar_t small[5];
    EXPECT_FALSE(NextExtension(position, small, 5));
    wchar_t ext[kExtensionChars];
    ASSERT_TRUE(NextExtension(position, ext, kExtensionChars));
    EXPECT_STREQ(L".tbz2", ext);
}

TEST_F(Associations, BindSavesTheFormerOwnerOnceAndReleaseGivesItBack)
{
    ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"OtherArc.zip"));
    ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"FileName", L"C:\\Other\\empty.zip"));

    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    EXPECT_EQ(L"Zorvex.ZIP", StringOf(kClasses, L".zip"));
    EXPECT_EQ(InProgramFolder(L"zipnew.dat"), StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(kZipTemplate, FileBytes(InProgramFolder(L"zipnew.dat")));
    EXPECT_EQ(1, DwordOf(HKEY_CURRENT_USER, Saved(L".zip"), L"Exist"));
    EXPECT_EQ(L"OtherArc.zip", StringOf(HKEY_CURRENT_USER, Saved(L".zip"), L"Type"));
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(HKEY_CURRENT_USER, Saved(L".zip"), L"ShellNew"));
    EXPECT_TRUE(IsOwnAssociation(L".zip"));

    // A second setup finds the extension its own and saves nothing over the first record.
    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    EXPECT_EQ(L"OtherArc.zip", StringOf(HKEY_CURRENT_USER, Saved(L".zip"), L"Type"));
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(HKEY_CURRENT_USER, Saved(L".zip"), L"ShellNew"));

    AssociateExtension(L".zip", kReleaseExtension | kZipRow);
    EXPECT_EQ(L"OtherArc.zip", StringOf(kClasses, L".zip"));
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_FALSE(IsOwnAssociation(L".zip"));
}

TEST_F(Associations, AnExtensionWithoutKeyLeavesNoKeyBehind)
{
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, L".zvx"));
    EXPECT_EQ(InProgramFolder(L"zvxnew.dat"), StringOf(kClasses, L".zvx\\ShellNew", L"FileName"));
    EXPECT_EQ(0, DwordOf(HKEY_CURRENT_USER, Saved(L".zvx"), L"Exist"));

    AssociateExtension(L".zvx", kReleaseExtension | kZvxRow);
    EXPECT_FALSE(HasKey(kClasses, L".zvx\\ShellNew"));
    EXPECT_FALSE(HasKey(kClasses, L".zvx"));  // not even empty

    // Other types without a key before are emptied and deleted the same way.
    AssociateExtension(L".cab", kBindExtension | kWantNewFileEntry);
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, L".cab"));
    AssociateExtension(L".cab", kReleaseExtension | kWantNewFileEntry);
    EXPECT_FALSE(HasKey(kClasses, L".cab"));
}

TEST_F(Associations, VolumesFollowTheZvxRow)
{
    ASSERT_TRUE(SetString(kClasses, L".r50", L"", L"OtherVolumes"));
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    for (int n = 0; n < 30; ++n)
        EXPECT_EQ(L"Zorvex", StringOf(kClasses, Volume(n))) << n;
    EXPECT_FALSE(HasKey(kClasses, Volume(30)));
    EXPECT_EQ(L"OtherVolumes", StringOf(kClasses, L".r50"));

    // No former owner: every volume type goes, also one that another program owns.
    AssociateExtension(L".zvx", kReleaseExtension | kZvxRow);
    for (int n = 0; n < 100; ++n)
        EXPECT_FALSE(HasKey(kClasses, Volume(n))) << n;

    // With a former owner all hundred are given to it.
    ASSERT_TRUE(SetString(kClasses, L".zvx", L"", L"Other.zvx"));
    testsupport::DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex");
    AssociateExtension(L".zvx", kBindExtension | kZvxRow);
    AssociateExtension(L".zvx", kReleaseExtension | kZvxRow);
    EXPECT_EQ(L"Other.zvx", StringOf(kClasses, L".zvx"));
    for (int n = 0; n < 100; ++n)
        EXPECT_EQ(L"Other.zvx", StringOf(kClasses, Volume(n))) << n;
}

TEST_F(Associations, FormerNewFileEntriesAndOwnTypesInTheRecord)
{
    // A NullFile entry is recorded as "*" and given back as an empty NullFile value.
    ASSERT_TRUE(SetString(kClasses, L".zvx", L"", L"Other.zvx"));
    ASSERT_TRUE(SetString(kClasses, L".zvx\\ShellNew", L"NullFile", L""));
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    EXPECT_EQ(L"*", StringOf(HKEY_CURRENT_USER, Saved(L".zvx"), L"ShellNew"));
    EXPECT_FALSE(HasValue(kClasses, L".zvx\\ShellNew", L"NullFile"));
    AssociateExtension(L".zvx", kReleaseExtension | kZvxRow);
    EXPECT_EQ(L"", StringOf(kClasses, L".zvx\\ShellNew", L"NullFile"));
    EXPECT_FALSE(HasValue(kClasses, L".zvx\\ShellNew", L"FileName"));

    // A saved type naming the product in any case is not given back: from the
    // per-user record of an earlier version the type is emptied...
    ASSERT_TRUE(SetString(kClasses, L".arj", L"", L"OtherArj"));
    AssociateExtension(L".arj", kBindExtension | kWantNewFileEntry);
    testsupport::DeleteTree(HKEY_LOCAL_MACHINE, kRecord);
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, Saved(L".arj"), L"Type", L"zORVEX.zip"));
    AssociateExtension(L".arj", kReleaseExtension | kWantNewFileEntry);
    EXPECT_EQ(L"", StringOf(kClasses, L".arj"));
    // ...and from the machine's record the default value goes.
    ASSERT_TRUE(SetString(kClasses, L".arj", L"", L"OtherArj"));
    AssociateExtension(L".arj", kBindExtension | kWantNewFileEntry);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, Recorded(L".arj"), L"Default", L"zORVEX.zip"));
    AssociateExtension(L".arj", kReleaseExtension | kWantNewFileEntry);
    EXPECT_EQ(kMissing, StringOf(kClasses, L".arj"));
    EXPECT_TRUE(HasKey(kClasses, L".arj"));

    // A former type longer than any name of the product's is another program's,
    // recorded whole and given back whole.
    const std::wstring longType = L"Other." + std::wstring(100, L'T');
    ASSERT_TRUE(SetString(kClasses, L".tar", L"", longType.c_str()));
    AssociateExtension(L".tar", kBindExtension | kWantNewFileEntry);
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, L".tar"));
    EXPECT_EQ(longType, StringOf(HKEY_CURRENT_USER, Saved(L".tar"), L"Type"));
    AssociateExtension(L".tar", kReleaseExtension | kWantNewFileEntry);
    EXPECT_EQ(longType, StringOf(kClasses, L".tar"));
}

TEST_F(Associations, AnotherProgramsExtensionIsNeverTouched)
{
    ASSERT_TRUE(SetString(kClasses, L".7z", L"", L"Other.7z"));
    AssociateExtension(L".7z", kBindExtension | kWantNewFileEntry);
    ASSERT_EQ(L"Zorvex", StringOf(kClasses, L".7z"));
    ASSERT_TRUE(SetString(kClasses, L".7z", L"", L"Another.7z"));
    AssociateExtension(L".7z", kReleaseExtension);
    EXPECT_EQ(L"Another.7z", StringOf(kClasses, L".7z"));

    // The .ace release of setup: only when the product owns it.
    ASSERT_TRUE(SetString(kClasses, L".ace", L"", L"OtherAce"));
    AssociateExtension(L".ace", kReleaseExtension);
    EXPECT_EQ(L"OtherAce", StringOf(kClasses, L".ace"));
    ASSERT_TRUE(SetString(kClasses, L".ace", L"", L"Zorvex"));
    AssociateExtension(L".ace", kReleaseExtension);
    // No record anywhere: the product's value goes, and the key, which holds nothing else.
    EXPECT_FALSE(HasKey(kClasses, L".ace"));
}

TEST_F(Associations, NewFileEntriesGivenBackWhenSwitchedOff)
{
    ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"OtherArc.zip"));
    ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"FileName", L"C:\\Other\\empty.zip"));
    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    ASSERT_EQ(InProgramFolder(L"zipnew.dat"), StringOf(kClasses, L".zip\\ShellNew", L"FileName"));

    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\MenuItems", L"NewZIP", 0));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\MenuItems", L"NewZVX", 0));
    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    // Still the product's types, with the former entry back (or none, as before).
    EXPECT_EQ(L"Zorvex.ZIP", StringOf(kClasses, L".zip"));
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, L".zvx"));
    EXPECT_FALSE(HasKey(kClasses, L".zvx\\ShellNew"));

    // The same when the shell extension is off (newEntryWanted false) with the settings on.
    testsupport::DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex\\Setup\\MenuItems");
    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    ASSERT_EQ(InProgramFolder(L"zipnew.dat"), StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    AssociateExtension(L".zip", kBindExtension | kZipRow);
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
}

TEST_F(Associations, TemplatesHaveTheirExactBytesAndAnExistingOneIsKept)
{
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    EXPECT_EQ(kZvxTemplate, FileBytes(InProgramFolder(L"zvxnew.dat")));

    // A file of the template's size is the user's and stays; any other size is replaced.
    const std::string own(24, 'u');
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"zvxnew.dat", own));
    ASSERT_TRUE(testsupport::PlaceProgramFile(L"zipnew.dat", "short"));
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    EXPECT_EQ(own, FileBytes(InProgramFolder(L"zvxnew.dat")));
    EXPECT_EQ(kZipTemplate, FileBytes(InProgramFolder(L"zipnew.dat")));
}

// A template's name that holds anything but a plain file of that name is left
// alone: a link to a file elsewhere (whose target would get the template's
// bytes) or a file with a second name; the new-file entry is still written.
TEST_F(Associations, ATemplateNameHoldingALinkIsLeftAloneAndWhatItLeadsToKept)
{
    const std::wstring outside = testsupport::MakeScratchFolder(L"template-outside") + L"\\victim.bin";
    const std::wstring zvx = InProgramFolder(L"zvxnew.dat");
    const std::wstring zip = InProgramFolder(L"zipnew.dat");
    ASSERT_TRUE(testsupport::WriteBytes(outside, "victim"));
    ASSERT_TRUE(testsupport::MakeUnixSymlink(zvx, outside));
    ASSERT_TRUE(CreateHardLinkW(zip.c_str(), outside.c_str(), nullptr));
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    EXPECT_EQ("victim", FileBytes(outside));
    EXPECT_EQ(zvx, StringOf(kClasses, L".zvx\\ShellNew", L"FileName"));
    EXPECT_EQ(zip, StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_TRUE(testsupport::RemoveUnixSymlink(zvx));
    EXPECT_TRUE(DeleteFileW(zip.c_str()));
    testsupport::RemoveTree(testsupport::MakeScratchFolder(L"template-outside"));
}

TEST_F(Associations, ApplyBindsEachRowsExtensionsByItsFlag)
{
    IntegrationOptions options = {};
    options.ShellExt = true;
    options.Associate[1] = true;   // zip
    options.Associate[10] = true;  // .bz2.tbz2.bz.tbz
    options.Associate[17] = true;  // .001
    ApplyAssociations(options);
    EXPECT_EQ(L"Zorvex.ZIP", StringOf(kClasses, L".zip"));
    for (const wchar_t* ext : {L".bz2", L".tbz2", L".bz", L".tbz", L".001"})
        EXPECT_EQ(L"Zorvex", StringOf(kClasses, ext)) << ext;
    for (const wchar_t* ext : {L".zvx", L".cab", L".7z", L".r00", L".tzst"})
        EXPECT_FALSE(HasKey(kClasses, ext)) << ext;

    IntegrationOptions none = {};
    ApplyAssociations(none);
    for (const wchar_t* ext : {L".zip", L".bz2", L".tbz2", L".bz", L".tbz", L".001"})
        EXPECT_FALSE(HasKey(kClasses, ext)) << ext;
}

TEST_F(Associations, ProgramIdentifiersKeepAnIconThatHoldsText)
{
    ASSERT_TRUE(SetString(kClasses, L"Zorvex\\DefaultIcon", L"", L"C:\\Icons\\own.ico,3"));
    ASSERT_TRUE(SetString(kClasses, L"Zorvex.ZIP\\DefaultIcon", L"", L""));
    ASSERT_TRUE(RegisterProgIds());

    const std::wstring exe = InProgramFolder(L"Zorvex.exe");
    const std::wstring command = L"\"" + exe + L"\" \"%1\"";
    EXPECT_EQ(L"Zorvex archive", StringOf(kClasses, L"Zorvex"));
    EXPECT_EQ(command, StringOf(kClasses, L"Zorvex\\shell\\open\\command"));
    EXPECT_EQ(L"C:\\Icons\\own.ico,3", StringOf(kClasses, L"Zorvex\\DefaultIcon"));
    EXPECT_EQ(L"Zorvex ZIP archive", StringOf(kClasses, L"Zorvex.ZIP"));
    EXPECT_EQ(command, StringOf(kClasses, L"Zorvex.ZIP\\shell\\open\\command"));
    EXPECT_EQ(exe + L",0", StringOf(kClasses, L"Zorvex.ZIP\\DefaultIcon"));
    EXPECT_EQ(L"Zorvex.REV", StringOf(kClasses, L".rev"));
    EXPECT_EQ(L"Zorvex recovery volume", StringOf(kClasses, L"Zorvex.REV"));
    EXPECT_EQ(command, StringOf(kClasses, L"Zorvex.REV\\shell\\open\\command"));
    EXPECT_EQ(exe + L",1", StringOf(kClasses, L"Zorvex.REV\\DefaultIcon"));

    ASSERT_TRUE(SetString(kClasses, L"Zorvex.REV\\DefaultIcon", L"", L"C:\\Icons\\volume.ico"));
    ASSERT_TRUE(RegisterProgIds());
    EXPECT_EQ(L"C:\\Icons\\volume.ico", StringOf(kClasses, L"Zorvex.REV\\DefaultIcon"));
    EXPECT_EQ(L"C:\\Icons\\own.ico,3", StringOf(kClasses, L"Zorvex\\DefaultIcon"));
}

TEST_F(Associations, TheImageHoldsNoCompleteArchiveSignature)
{
    // The templates are linked into this test program as into the uninstaller.
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    std::string image;
    ASSERT_TRUE(testsupport::ReadBytes(testsupport::SelfPath(), image));
    EXPECT_NE(std::string::npos, image.find(kZvxTail));      // the template is in the image...
    EXPECT_EQ(std::string::npos, image.find(kZvxTemplate));  // ...but never whole
    EXPECT_EQ(std::string::npos, image.find(kZipTemplate.substr(0, 4)));
}


// The export of one value as the tests' registry export writes it.
std::wstring Line(const std::wstring& key, const std::wstring& rest)
{
    return key + L" | " + rest;
}

TEST_F(Associations, FormerValuesAreRecordedForTheMachineInTheirOwnTypes)
{
    // Before setup: .zip's owner is expandable text and it has a NullFile entry,
    // .7z's owner is binary data, .zvx's new-file entry is a number, .cab has no key.
    const wchar_t expandOwner[] = L"%ZipOwner%";
    ASSERT_TRUE(testsupport::SetRaw(kClasses, L".zip", L"", REG_EXPAND_SZ, expandOwner, sizeof expandOwner));
    ASSERT_TRUE(testsupport::SetRaw(kClasses, L".zip\\ShellNew", L"NullFile", REG_SZ, L"", 2));
    const BYTE binaryOwner[] = {0x37, 0x00, 0x7A, 0xFF, 0x01};
    ASSERT_TRUE(testsupport::SetRaw(kClasses, L".7z", L"", REG_BINARY, binaryOwner, sizeof binaryOwner));
    ASSERT_TRUE(SetString(kClasses, L".zvx", L"", L"Other.zvx"));
    const DWORD seven = 7;
    ASSERT_TRUE(testsupport::SetRaw(kClasses, L".zvx\\ShellNew", L"FileName", REG_DWORD, &seven, 4));

    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    AssociateExtension(L".7z", kBindExtension | kWantNewFileEntry);
    AssociateExtension(L".zvx", kBindExtension | kWantNewFileEntry | kZvxRow);
    AssociateExtension(L".cab", kBindExtension | kWantNewFileEntry);
    ASSERT_EQ(L"Zorvex", StringOf(kClasses, L".7z"));

    const std::wstring types = L"HKLM\\Software\\Zorvex\\Record\\Types";
    const std::vector<std::wstring> record = {
        L"HKLM\\Software\\Zorvex\\Record |",
        types + L" |",
        types + L"\\.7z |",
        Line(types + L"\\.7z", L"Default | 3 | 37007aff01"),
        Line(types + L"\\.7z", L"Existed | 4 | 1"),
        Line(types + L"\\.7z", L"ShellNewExisted | 4 | 0"),
        types + L"\\.cab |",
        Line(types + L"\\.cab", L"Existed | 4 | 0"),
        Line(types + L"\\.cab", L"ShellNewExisted | 4 | 0"),
        types + L"\\.zip |",
        Line(types + L"\\.zip", L"Default | 2 | \"%ZipOwner%\\0\""),
        Line(types + L"\\.zip", L"Existed | 4 | 1"),
        Line(types + L"\\.zip", L"NullFile | 1 | \"\\0\""),
        Line(types + L"\\.zip", L"ShellNewExisted | 4 | 1"),
        types + L"\\.zvx |",
        Line(types + L"\\.zvx", L"Default | 1 | \"Other.zvx\\0\""),
        Line(types + L"\\.zvx", L"Existed | 4 | 1"),
        Line(types + L"\\.zvx", L"FileName | 4 | 7"),
        Line(types + L"\\.zvx", L"ShellNewExisted | 4 | 1"),
    };
    EXPECT_EQ(record, testsupport::ExportTree(HKEY_LOCAL_MACHINE, kRecord));
    // The per-user record, as earlier versions read it: text only.
    EXPECT_EQ(L"%ZipOwner%", StringOf(HKEY_CURRENT_USER, Saved(L".zip"), L"Type"));
    EXPECT_EQ(L"*", StringOf(HKEY_CURRENT_USER, Saved(L".zip"), L"ShellNew"));
    EXPECT_EQ(L"", StringOf(HKEY_CURRENT_USER, Saved(L".7z"), L"Type"));
    EXPECT_EQ(L"", StringOf(HKEY_CURRENT_USER, Saved(L".zvx"), L"ShellNew"));
    // The real uninstall gives such values back in their types and bytes (test_setup_program.cpp).
}

TEST_F(Associations, ARecordOfAnEarlierVersionIsKeptForTheMachineAtTheNextSetup)
{
    // An earlier version took .zip and kept the record per user only.
    ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"Zorvex.ZIP"));
    ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"FileName", InProgramFolder(L"zipnew.dat")));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, Saved(L".zip"), L"Exist", 1));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, Saved(L".zip"), L"Type", L"OtherArc.zip"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, Saved(L".zip"), L"ShellNew", L"*"));

    AssociateExtension(L".zip", kBindExtension | kWantNewFileEntry | kZipRow);
    const std::wstring zip = L"HKLM\\Software\\Zorvex\\Record\\Types\\.zip";
    EXPECT_EQ((std::vector<std::wstring>{zip + L" |", Line(zip, L"Default | 1 | \"OtherArc.zip\\0\""),
                                         Line(zip, L"Existed | 4 | 1"), Line(zip, L"NullFile | 1 | \"\\0\""),
                                         Line(zip, L"ShellNewExisted | 4 | 1")}),
              testsupport::ExportTree(HKEY_LOCAL_MACHINE, Recorded(L".zip")));

    // Another account uninstalls.
    testsupport::DeleteTree(HKEY_CURRENT_USER, L"Software\\Zorvex");
    AssociateExtension(L".zip", kReleaseExtension | kZipRow);
    EXPECT_EQ(L"OtherArc.zip", StringOf(kClasses, L".zip"));
    EXPECT_EQ(L"", StringOf(kClasses, L".zip\\ShellNew", L"NullFile"));
    EXPECT_FALSE(HasValue(kClasses, L".zip\\ShellNew", L"FileName"));
}

TEST_F(Associations, WithoutAnyRecordOnlyWhatIsPlainlyTheProductsGoes)
{
    // The product's types with no record of their former state anywhere.
    ASSERT_TRUE(SetString(kClasses, L".zvx", L"", L"Zorvex"));
    ASSERT_TRUE(SetString(kClasses, L".zvx\\ShellNew", L"FileName", L"C:\\Gone\\Zorvex\\ZVXNEW.DAT"));
    ASSERT_TRUE(SetString(kClasses, L".r05", L"", L"Zorvex"));
    ASSERT_TRUE(SetString(kClasses, L".r06", L"", L"OtherVolumes"));
    ASSERT_TRUE(SetString(kClasses, L".r07", L"", L"zorvex"));
    ASSERT_TRUE(SetString(kClasses, L".r07", L"Other", L"kept"));
    ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"Zorvex.ZIP"));
    ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"FileName", L"C:\\Other\\empty.zip"));
    ASSERT_TRUE(SetString(kClasses, L".tar", L"", L"Zorvex"));
    ASSERT_TRUE(SetString(kClasses, L".tar\\OpenWithProgids", L"Other.tar", L""));

    AssociateExtension(L".zvx", kReleaseExtension | kZvxRow);
    AssociateExtension(L".zip", kReleaseExtension | kZipRow);
    AssociateExtension(L".tar", kReleaseExtension);

    // The product's entry named its own template: it and the keys that held nothing else go.
    EXPECT_FALSE(HasKey(kClasses, L".zvx"));
    EXPECT_FALSE(HasKey(kClasses, L".r05"));
    EXPECT_EQ(L"OtherVolumes", StringOf(kClasses, L".r06"));
    EXPECT_EQ(kMissing, StringOf(kClasses, L".r07"));
    EXPECT_EQ(L"kept", StringOf(kClasses, L".r07", L"Other"));
    // Another program's new-file entry stays, and with it the key, without a default value.
    EXPECT_EQ(kMissing, StringOf(kClasses, L".zip"));
    EXPECT_EQ(L"C:\\Other\\empty.zip", StringOf(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(kMissing, StringOf(kClasses, L".tar"));
    EXPECT_TRUE(HasKey(kClasses, L".tar\\OpenWithProgids"));
    EXPECT_FALSE(HasKey(kClasses, L".r00"));

    // A bind without the new-file entry takes away only the product's own entry.
    ASSERT_TRUE(SetString(kClasses, L".zip", L"", L"Zorvex.ZIP"));
    ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"FileName", InProgramFolder(L"zipnew.dat")));
    ASSERT_TRUE(SetString(kClasses, L".zip\\ShellNew", L"ItemName", L"kept"));
    AssociateExtension(L".zip", kBindExtension | kZipRow);
    EXPECT_EQ(L"Zorvex.ZIP", StringOf(kClasses, L".zip"));
    EXPECT_FALSE(HasValue(kClasses, L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(L"kept", StringOf(kClasses, L".zip\\ShellNew", L"ItemName"));
}

TEST_F(Associations, AFormerStateThatCannotBeKeptWholeIsNotTaken)
{
    // A former owner larger than the record holds: taking the type would lose it.
    const std::string large(9000, 'L');
    ASSERT_TRUE(testsupport::SetRaw(kClasses, L".cab", L"", REG_BINARY, large.data(),
                                    static_cast<DWORD>(large.size())));
    AssociateExtension(L".cab", kBindExtension | kWantNewFileEntry);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(testsupport::GetRaw(kClasses, L".cab", L"", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(large, data);
    EXPECT_FALSE(HasKey(HKEY_LOCAL_MACHINE, Recorded(L".cab")));
    EXPECT_FALSE(HasKey(HKEY_CURRENT_USER, Saved(L".cab")));

    // One that fits is taken, and given back whole.
    const std::string fits(8192, 'F');
    ASSERT_TRUE(testsupport::SetRaw(kClasses, L".cab", L"", REG_BINARY, fits.data(), static_cast<DWORD>(fits.size())));
    AssociateExtension(L".cab", kBindExtension | kWantNewFileEntry);
    EXPECT_EQ(L"Zorvex", StringOf(kClasses, L".cab"));
    AssociateExtension(L".cab", kReleaseExtension);
    ASSERT_TRUE(testsupport::GetRaw(kClasses, L".cab", L"", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(fits, data);
}

}  // namespace
