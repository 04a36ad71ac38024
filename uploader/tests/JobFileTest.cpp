// The job file "prpt.job": bytes written under <APPDATA>\Zentrafold, jobs read
// from a scratch folder, deleted once read.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "JobFile.h"
#include "JobText.h"
#include "Owners.h"
#include "TestFiles.h"

namespace {

using zftest::Exists;
using zftest::ReadBytes;
using zftest::WriteBytes;

std::string AppDataFolder() {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, path))) return {};
  return path;
}

// Control characters made visible in failure messages.
std::string Visible(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
  return out;
}

// Each case: <APPDATA>\Zentrafold moved aside (put back after) so the writer
// starts without its folder, and an empty scratch folder for reader cases.
class JobFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string appData = AppDataFolder();
    ASSERT_FALSE(appData.empty());
    jobFolder_ = appData + "\\Zentrafold\\";
    writtenJob_ = jobFolder_ + "prpt.job";
    saved_ = appData + "\\Zentrafold.jobfiletest-saved";
    if (Exists(jobFolder_)) {
      ASSERT_TRUE(MoveFileA(jobFolder_.c_str(), saved_.c_str()))
          << "error " << GetLastError();
    }
    char temp[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    scratch_ = std::string(temp) + "zf-jobfile-test\\";
    CreateDirectoryA(scratch_.c_str(), nullptr);
    ASSERT_TRUE(Exists(scratch_)) << scratch_;
    scratchJob_ = scratch_ + "prpt.job";
    document_ = scratch_ + "{6F1C2B3A}.pdf";
    DeleteFileA(scratchJob_.c_str());
  }

  void TearDown() override {
    DeleteFileA(scratchJob_.c_str());
    DeleteFileA(document_.c_str());
    RemoveDirectoryA(scratch_.c_str());
    DeleteFileA(writtenJob_.c_str());
    RemoveDirectoryA(writtenJob_.c_str());
    RemoveDirectoryA(jobFolder_.c_str());
    if (Exists(saved_)) MoveFileA(saved_.c_str(), jobFolder_.c_str());
  }

  std::string jobFolder_, writtenJob_, saved_, scratch_, scratchJob_, document_;
};

TEST(JobTextTest, TextModeTranslation) {
  struct Case {
    std::string text, file;
  } const cases[] = {
      {"", ""},
      {"A\r\r", "A\r\r"},
      {"a\nb", "a\r\nb"},
      {"\n\n", "\r\n\r\n"},
      {"x\r\ny", "x\r\r\ny"},  // a CR before an LF stays a CR of its own
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Visible(c.file), Visible(zf::ToTextMode(c.text))) << Visible(c.text);
    EXPECT_EQ(Visible(c.text), Visible(zf::FromTextMode(c.file))) << Visible(c.file);
  }
  EXPECT_EQ("a\rb\r", zf::FromTextMode("a\rb\r"));  // lone CRs are kept
  EXPECT_EQ("\r\n", zf::FromTextMode("\r\r\n"));
}

TEST(JobTextTest, CleanJobField) {
  struct Case {
    std::string text;
    size_t limit;
    std::string field;
  } const cases[] = {
      {"plain", 10, "plain"},
      {"a\r\nb\rc\nd", 10, "a\nb\nc\nd"},
      {"tab\there", 10, "tab here"},
      {"\r\r\n\n", 10, "\n\n\n"},
      {"abcdef", 3, "abc"},
      {"ab\r\ncd", 3, "ab\n"},  // the limit counts the cleaned text
      {std::string("ab\0cd", 5), 10, "ab"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Visible(c.field), Visible(zf::CleanJobField(c.text, c.limit))) << Visible(c.text);
}

TEST(JobTextTest, JobPathBeside) {
  struct Case {
    const char* document;
    const char* job;
  } const cases[] = {
      {"C:\\users\\u\\AppData\\Roaming\\Zentrafold\\{1}.pdf",
       "C:\\users\\u\\AppData\\Roaming\\Zentrafold\\prpt.job"},
      {"C:\\dir\\", "C:\\dir\\prpt.job"},
      {"C:\\dir\\\\doc.pdf", "C:\\dir\\prpt.job"},
      {"C:\\doc.pdf", "C:\\prpt.job"},
      {"doc.pdf", "\\prpt.job"},
      {"", "\\prpt.job"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.job, zf::JobPathBeside(c.document)) << c.document;
}

TEST_F(JobFileTest, ReadsOrRefusesContentAndAlwaysDeletes) {
  struct Case {
    std::string file;
    bool ok;
    std::string title, notes, folderId;
  } const cases[] = {
      {"A\r\r", true, "A", "", ""},
      {"\r\r", true, "", "", ""},
      {"Title\rNotes\r6b1f0c2e-1d0a-4c55-9a51-7c0d9e3f2a11", true, "Title", "Notes",
       "6b1f0c2e-1d0a-4c55-9a51-7c0d9e3f2a11"},
      {"T\rline 1\r\nline 2\r\n\rF", true, "T", "line 1\nline 2\n", "F"},
      {"T\r\r\nN\rF", true, "T", "\nN", "F"},
      {"", false, "", "", ""},
      {"only a title", false, "", "", ""},
      {"T\rN", false, "", "", ""},
      {"T\rN\rF\rX", false, "", "", ""},
      {"T\rline 1\r\r\nline 2\rF", false, "", "", ""},  // an unmended line break
      {std::string("\0T\rN\rF", 6), false, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Visible(c.file));
    ASSERT_TRUE(WriteBytes(scratchJob_, c.file));
    zf::UploadJob job{"stale", "stale", "stale", "stale"};
    EXPECT_EQ(c.ok, zf::ReadJob(document_, job));
    EXPECT_EQ(document_, job.documentPath);
    EXPECT_EQ(Visible(c.title), Visible(job.title));
    EXPECT_EQ(Visible(c.notes), Visible(job.notes));
    EXPECT_EQ(Visible(c.folderId), Visible(job.folderId));
    EXPECT_FALSE(Exists(scratchJob_)) << "job file left behind";
  }
}

TEST_F(JobFileTest, NoJobFileDeletesNothing) {
  ASSERT_TRUE(WriteBytes(document_, "%PDF-1.4"));
  zf::UploadJob job;
  EXPECT_FALSE(zf::ReadJob(document_, job));
  EXPECT_EQ(document_, job.documentPath);
  EXPECT_TRUE(Exists(document_));
  EXPECT_TRUE(Exists(scratch_));
}

TEST_F(JobFileTest, SecondReadFindsNoFile) {
  ASSERT_TRUE(WriteBytes(scratchJob_, "T\rN\rF"));
  zf::UploadJob job;
  EXPECT_TRUE(zf::ReadJob(document_, job));
  EXPECT_FALSE(Exists(scratchJob_));
  zf::UploadJob again;
  EXPECT_FALSE(zf::ReadJob(document_, again));
}

TEST_F(JobFileTest, PathEndingInBackslashMeansThatFolder) {
  ASSERT_EQ('\\', scratch_.back());
  ASSERT_TRUE(WriteBytes(scratchJob_, "T\rN\rF"));
  zf::UploadJob job;
  EXPECT_TRUE(zf::ReadJob(scratch_, job));
  EXPECT_EQ("T", job.title);
  EXPECT_FALSE(Exists(scratchJob_));
}

// Without a backslash the job is "\prpt.job": the root of the current drive.
TEST_F(JobFileTest, PathWithoutBackslashLooksInDriveRoot) {
  char previous[MAX_PATH] = {};
  ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, previous));
  ASSERT_TRUE(SetCurrentDirectoryA(scratch_.c_str())) << "error " << GetLastError();
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  const std::string rootJob = std::string(current, 3) + "prpt.job";  // "C:\prpt.job"
  if (Exists(rootJob)) {
    SetCurrentDirectoryA(previous);
    GTEST_SKIP() << rootJob << " exists already; not touching it";
  }
  ASSERT_TRUE(WriteBytes(rootJob, "Root\rN\rF"));
  ASSERT_TRUE(WriteBytes(scratchJob_, "Beside\rN\rF"));  // not the one it must take
  zf::UploadJob job;
  const bool ok = zf::ReadJob("doc.pdf", job);
  const bool rootLeft = Exists(rootJob);
  DeleteFileA(rootJob.c_str());
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(ok);
  EXPECT_EQ("Root", job.title);
  EXPECT_FALSE(rootLeft) << rootJob;
  EXPECT_TRUE(Exists(scratchJob_));
}

TEST_F(JobFileTest, FullLengthJobIsReadWhole) {
  const std::string title(zf::kJobTitleMax, 'T'), notes(zf::kJobNotesMax, 'N'),
      folderId(zf::kJobFolderIdMax, 'F');
  const std::string file = title + "\r" + notes + "\r" + folderId;
  ASSERT_EQ(1315u, file.size());
  ASSERT_TRUE(WriteBytes(scratchJob_, file));
  zf::UploadJob job;
  EXPECT_TRUE(zf::ReadJob(document_, job));
  EXPECT_EQ(title, job.title);
  EXPECT_EQ(notes, job.notes);
  EXPECT_EQ(folderId, job.folderId);
}

TEST_F(JobFileTest, OversizedFileIsRefusedAndDeleted) {
  ASSERT_TRUE(WriteBytes(scratchJob_, "T\r" + std::string(70000, 'N') + "\rF"));
  zf::UploadJob job;
  EXPECT_FALSE(zf::ReadJob(document_, job));
  EXPECT_FALSE(Exists(scratchJob_));
}

TEST_F(JobFileTest, WriterCreatesFolderUnderAppData) {
  ASSERT_FALSE(Exists(jobFolder_));
  EXPECT_TRUE(zf::WriteJob("A", "", ""));
  EXPECT_TRUE(PathIsDirectoryA(jobFolder_.c_str())) << jobFolder_;
  EXPECT_TRUE(Exists(writtenJob_)) << writtenJob_;
  EXPECT_EQ("A\\r\\r", Visible(ReadBytes(writtenJob_)));
}

TEST_F(JobFileTest, WrittenBytes) {
  struct Case {
    std::string title, notes, folderId, file;
  } const cases[] = {
      {"A", "", "", "A\r\r"},
      {"", "", "", "\r\r"},
      {"Title", "Notes", "id-1", "Title\rNotes\rid-1"},
      {"T", "line 1\nline 2", "F", "T\rline 1\r\nline 2\rF"},
      {"T", "crlf\r\nlone cr\rlf\nend", "F", "T\rcrlf\r\nlone cr\r\nlf\r\nend\rF"},
      {"Tab\tbed", "a\tb", "F\tG", "Tab bed\ra b\rF G"},
      {"Two\r\nlines", "", "", "Two\r\nlines\r\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Visible(c.title + "|" + c.notes + "|" + c.folderId));
    ASSERT_TRUE(zf::WriteJob(c.title, c.notes, c.folderId));
    EXPECT_EQ(Visible(c.file), Visible(ReadBytes(writtenJob_)));
  }
}

TEST_F(JobFileTest, WriterOverwritesEarlierJob) {
  ASSERT_TRUE(zf::WriteJob("A long first title", "with notes", "and-a-folder"));
  ASSERT_TRUE(zf::WriteJob("B", "", ""));
  EXPECT_EQ("B\\r\\r", Visible(ReadBytes(writtenJob_)));
}

TEST_F(JobFileTest, WriterCutsFieldsAtLimits) {
  ASSERT_TRUE(zf::WriteJob(std::string(300, 'T'), std::string(1100, 'N'), std::string(40, 'F')));
  const std::string expected = std::string(254, 'T') + "\r" + std::string(1023, 'N') + "\r" +
                               std::string(36, 'F');
  const std::string file = ReadBytes(writtenJob_);
  EXPECT_EQ(1315u, file.size());
  EXPECT_EQ(expected, file);
  zf::UploadJob job;
  EXPECT_TRUE(zf::ReadJob(jobFolder_ + "doc.pdf", job));
  EXPECT_EQ(254u, job.title.size());
  EXPECT_EQ(1023u, job.notes.size());
  EXPECT_EQ(36u, job.folderId.size());
}

// The limit counts the notes as read back: 1023 line breaks take 2046 bytes.
TEST_F(JobFileTest, NotesLimitCountsLineBreaksOnce) {
  std::string notes;
  for (int i = 0; i < 1100; ++i) notes += "\r\n";
  ASSERT_TRUE(zf::WriteJob("T", notes, "F"));
  EXPECT_EQ(1u + 1 + 2046 + 1 + 1, ReadBytes(writtenJob_).size());
  zf::UploadJob job;
  EXPECT_TRUE(zf::ReadJob(jobFolder_ + "doc.pdf", job));
  EXPECT_EQ(std::string(1023, '\n'), job.notes);
}

TEST_F(JobFileTest, MultiLineNotesAndTabsRoundTrip) {
  ASSERT_TRUE(zf::WriteJob("Ti\ttle", "one\r\ntwo\rthree\nfour\tx\r\n", "f-1"));
  zf::UploadJob job;
  ASSERT_TRUE(zf::ReadJob(jobFolder_ + "{0A1B}.pdf", job));
  EXPECT_EQ("Ti tle", job.title);
  EXPECT_EQ(Visible("one\ntwo\nthree\nfour x\n"), Visible(job.notes));
  EXPECT_EQ("f-1", job.folderId);
  EXPECT_FALSE(Exists(writtenJob_));
}

TEST_F(JobFileTest, WriterFailsWhenFileCannotBeCreated) {
  ASSERT_TRUE(CreateDirectoryA(jobFolder_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(writtenJob_.c_str(), nullptr));  // a folder in the way
  EXPECT_FALSE(zf::WriteJob("T", "N", "F"));
}

}  // namespace
