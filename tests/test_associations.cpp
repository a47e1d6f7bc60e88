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

    // A saved type naming the product in any case is not given back: the type is emptied.
    ASSERT_TRUE(SetString(kClasses, L".arj", L"", L"OtherArj"));
    AssociateExtension(L".arj", kBindExtension | kWantNewFileEntry);
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, Saved(L".arj"), L"Type", L"zORVEX.zip"));
    AssociateExtension(L".arj", kReleaseExtension | kWantNewFileEntry);
    EXPECT_EQ(L"", StringOf(kClasses, L".arj"));

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
    EXPECT_EQ(L"", StringOf(kClasses, L".ace"));  // no record: it counts as having existed without owner
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

}  // namespace
