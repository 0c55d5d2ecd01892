// The binary file procedures through the base library's wrappers: what they
// write and read byte for byte, positions past 32 bits, the file numbers of
// our own (a number never given, or one already closed, reaches no
// descriptor), the read limit, and bad input ending in a keyed error.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/Exports.h"
#include "core/IOLib.h"
#include "tests/core/support/LibraryTest.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

namespace {

class IOLibFiles : public LibraryTest {
protected:
  // A global variable holding a path in the scratch folder.
  std::filesystem::path Define(const std::u16string& name, const std::string& leaf) {
    S.CreateVariable(S.Root, name, true, NewWord(S, Folder.Name(leaf)));
    return Folder.Path / leaf;
  }
  // The descriptor behind a file number, -1 when it has none.
  int DescriptorOf(const std::string& number) { return I.IO->Files.Descriptor(std::stoul(number)); }

  TempFolder Folder;
};

bool DescriptorOpen(int descriptor) { return fcntl(descriptor, F_GETFD) != -1; }

TEST_F(IOLibFiles, WritesBytesInOrderAndReadsThemBack) {
  const auto path = Define(u"p", "bytes.bin");
  EXPECT_EQ(Run(u"make \"f openwrite :p\nwritebytes :f [0 255 10]\nwritebytes :f 65\nwritebytes :f []\n"
                u"print setfilepos :f 0 2\nclosefile :f"),
            "4");
  EXPECT_EQ(ReadBytes(path), std::string("\x00\xff\x0a\x41", 4));

  EXPECT_EQ(Run(u"make \"f openread :p\nprint readbytes :f\nprint (readbytes :f 10)\nprint readbytes :f\n"
                u"print (readbytes :f 10)\nprint setfilepos :f -2 1\nprint readbytes :f\nclosefile :f"),
            "0\n255 10 65\n-1\n\n2\n10");
}

TEST_F(IOLibFiles, BadBytesRaiseAndWriteNothing) {
  const auto path = Define(u"p", "bad.bin");
  ASSERT_EQ(Run(u"make \"f openwrite :p"), "");
  EXPECT_EQ(Run(u"writebytes :f 256"), "error: iowritefile");
  EXPECT_EQ(Run(u"writebytes :f -1"), "error: iowritefile");
  EXPECT_EQ(Run(u"writebytes :f [1 2 300]"), "error: iowritefile");
  EXPECT_EQ(Run(u"writebytes :f [1 2.5]"), "error: BADNUMBER");
  EXPECT_EQ(Run(u"writebytes :f [1 [2]]"), "error: BADNUMBER");
  EXPECT_EQ(Run(u"writebytes :f expr [1]"), "error: iowritefile");
  EXPECT_EQ(Run(u"closefile :f"), "");
  EXPECT_EQ(ReadBytes(path), "");
}

TEST_F(IOLibFiles, ReopeningForWritingTruncates) {
  const auto path = Define(u"p", "again.bin");
  ASSERT_EQ(Run(u"make \"f openwrite :p\nwritebytes :f [1 2 3 4 5]\nclosefile :f"), "");
  ASSERT_EQ(std::filesystem::file_size(path), 5u);
  EXPECT_EQ(Run(u"make \"f openwrite :p\nprint setfilepos :f 0 2\nclosefile :f"), "0");
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(IOLibFiles, CountsAreCutToTheBytesLeft) {
  const auto path = Define(u"p", "four.bin");
  WriteBytes(path, "abcd");
  EXPECT_EQ(Run(u"make \"f openread :p\nprint (readbytes :f 2147483647)"), "97 98 99 100");
  EXPECT_EQ(Run(u"print setfilepos :f 0 0\nprint count (readbytes :f 0)\nprint count (readbytes :f -5)\n"
                u"print readbytes :f"),
            "0\n0\n0\n97");
  EXPECT_EQ(Run(u"print (readbytes :f \"x)"), "error: BADNUMBER");

  // More than 16 MiB left and asked for: an error before anything is read.
  const auto big = Define(u"big", "big.bin");
  WriteBytes(big, "");
  std::filesystem::resize_file(big, 16777217);
  EXPECT_EQ(Run(u"make \"g openread :big\nprint (readbytes :g 16777217)"), "error: ioreadfile");
  EXPECT_EQ(Run(u"print setfilepos :g 0 1\nprint count (readbytes :g 3)\nclosefile :g\nclosefile :f"), "0\n3");
}

TEST_F(IOLibFiles, AFileWithoutLengthReadsUpToTheLimit) {
  S.CreateVariable(S.Root, u"zero", true, NewWord(S, u"/dev/zero"));
  EXPECT_EQ(Run(u"make \"f openread :zero\nprint (readbytes :f 3)"), "0 0 0");
  EXPECT_EQ(Run(u"print (readbytes :f 16777217)"), "error: ioreadfile");
  EXPECT_EQ(Run(u"closefile :f"), "");
}

TEST_F(IOLibFiles, PositionsReachPast32Bits) {
  Define(u"p", "sparse.bin");
  EXPECT_EQ(Run(u"make \"f openwrite :p\nprint setfilepos :f 2147483647 0\nprint setfilepos :f 2147483647 1\n"
                u"print setfilepos :f 2147483647 1\nprint setfilepos :f 0 2"),
            "2147483647\n4294967294\n6442450941\n0");
  EXPECT_EQ(Run(u"print setfilepos :f -1 0"), "4294967295");
  EXPECT_EQ(Run(u"print setfilepos :f 0 3"), "error: gotofilepos");
  EXPECT_EQ(Run(u"print setfilepos :f 0 -1"), "error: gotofilepos");
  EXPECT_EQ(Run(u"closefile :f"), "");
}

TEST_F(IOLibFiles, AFailedOpenStoresTheInvalidNumber) {
  Define(u"missing", "missing.bin");
  Define(u"folder", "");
  EXPECT_EQ(Run(u"make \"f openread :missing\nprint :f\nprint readbytes :f\nprint (readbytes :f 4)\n"
                u"print setfilepos :f 0 2"),
            "4294967295\n-1\n\n4294967295");
  EXPECT_EQ(Run(u"writebytes :f 1"), "error: iowritefile");
  EXPECT_EQ(Run(u"closefile :f"), "error: closefile");
  EXPECT_EQ(Run(u"print openread :folder\nprint openwrite :folder"), "4294967295\n4294967295");
  EXPECT_FALSE(std::filesystem::exists(Folder.Path / "missing.bin"));
}

// Numbers are the interpreter's own: 2 (stderr's descriptor) was never given,
// the descriptor's own number is no file number, a closed number stays dead.
TEST_F(IOLibFiles, NumbersNeverGivenOrClosedReachNoDescriptor) {
  const auto first = Define(u"p", "first.bin");
  const auto second = Define(u"q", "second.bin");
  const std::string f = Run(u"make \"f openwrite :p\nprint :f");
  const int descriptor = DescriptorOf(f);
  ASSERT_GE(descriptor, 0);
  S.CreateVariable(S.Root, u"fd", true, NewNumber(S, descriptor));

  EXPECT_EQ(Run(u"writebytes 2 65"), "error: iowritefile");
  EXPECT_EQ(Run(u"closefile 2"), "error: closefile");
  EXPECT_TRUE(DescriptorOpen(2));
  if (std::to_string(descriptor) != f) {
    EXPECT_EQ(Run(u"closefile :fd"), "error: closefile");
    EXPECT_TRUE(DescriptorOpen(descriptor));
  }

  ASSERT_EQ(Run(u"closefile :f\nmake \"g openwrite :q\nwritebytes :g 7"), "");
  EXPECT_NE(Run(u"print :g"), f);
  EXPECT_EQ(Run(u"writebytes :f 1"), "error: iowritefile");
  EXPECT_EQ(Run(u"closefile :f"), "error: closefile");
  EXPECT_EQ(Run(u"closefile :g"), "");
  EXPECT_EQ(ReadBytes(first), "");
  EXPECT_EQ(ReadBytes(second), "\x07");
}

// Procedures that do not declare "handle" or "filename" as the library's do.
TEST_F(IOLibFiles, MissingNamesAreKeyedErrorsOrNoFile) {
  Define(u"p", "never.bin");
  ASSERT_EQ(Run(u"to openwithout :filename\ndll.zavta.IOOPENFILEFORWRITE\nend\n"
                u"to readwithout :filename\ndll.zavta.IOOPENFILEFORREAD\nend\n"
                u"to nameless\nlocal \"handle\ndll.zavta.IOOPENFILEFORWRITE\nend\n"
                u"to emptyname :filename\nlocal \"handle\ndll.zavta.IOOPENFILEFORWRITE\nend\n"
                u"to nohandle\noutput dll.zavta.IOREADFILE\nend\n"
                u"to closenothing\ndll.zavta.IOCLOSEFILE\nend"),
            "");
  EXPECT_EQ(Run(u"openwithout :p"), "error: openforwrite");
  EXPECT_EQ(Run(u"readwithout :p"), "error: openforread");
  EXPECT_EQ(Run(u"nameless"), "error: openforwrite");
  EXPECT_EQ(Run(u"emptyname []"), "error: openforwrite");
  EXPECT_FALSE(std::filesystem::exists(Folder.Path / "never.bin"));
  EXPECT_EQ(Run(u"print nohandle"), "-1");
  EXPECT_EQ(Run(u"closenothing"), "error: closefile");
  EXPECT_EQ(Run(u"print openwrite [a b]"), "error: BADSTRING");
  EXPECT_EQ(Run(u"closefile \"abc"), "error: BADNUMBER");
}

// Without a current line an error returns: the primitive stops there.
TEST_F(IOLibFiles, SuppressedErrorsStopBeforeAnyFileAccess) {
  const auto path = Define(u"p", "quiet.bin");
  ASSERT_EQ(Run(u"make \"f openwrite :p"), "");
  TAtom* frame = NewVariable(S, u"[~]", nullptr);
  S.CreateVariable(frame, u"handle", true, S.FindName(u"f")->Left);
  S.CreateVariable(frame, u"data", true, NewNumber(S, 256));
  T.ArmErrors(false);
  S.EnterFrame(frame);
  EXPECT_EQ(I.Exports.Routine(exIOWRITEFILE)(I), nullptr);
  EXPECT_EQ(I.Exports.Routine(exIOOPENFILEFORREAD)(I), nullptr);  // no filename
  S.LeaveFrame();
  T.ArmErrors(true);
  EXPECT_EQ(Run(u"closefile :f"), "");
  EXPECT_EQ(ReadBytes(path), "");
}

TEST(IOLibFileTable, ClosesWhatIsStillOpenWhenItGoes) {
  int kept = -1;
  {
    TFileTable table;
    kept = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int closed = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(table.Add(kept), 1u);
    ASSERT_EQ(table.Add(closed), 2u);
    EXPECT_TRUE(table.Close(2));
    EXPECT_FALSE(table.Close(2));
    EXPECT_EQ(table.Descriptor(2), -1);
    EXPECT_EQ(table.Descriptor(kInvalidFileNumber), -1);
  }
  EXPECT_FALSE(DescriptorOpen(kept));
}

}  // namespace
