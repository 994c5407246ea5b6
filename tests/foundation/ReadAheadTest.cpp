#include "foundation/ReadAhead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "foundation/FileData.h"
#include "tests/support/TempDir.h"

namespace {

const size_t kPiece = 7;

void OpenForReading(const std::string &strPath, auto_handle &hFile) {
    CKyError error = FXFile::TQCreateFile(hFile, strPath, O_RDONLY);
    ASSERT_FALSE(error.IsError()) << error.AsString();
}

} // namespace

// Whatever the size, the pieces put together are the file, every piece but the last is full, the
// last is short (empty when the size is a whole number of pieces) and nothing comes after it.
TEST(ReadAheadTest, PiecesAreTheWholeFileInOrderEndingWithAShortOne) {
    idxtest::TempDir dir;
    for (size_t nSize : {size_t(0), size_t(1), kPiece - 1, kPiece, kPiece + 1, 40 * kPiece + 3}) {
        SCOPED_TRACE(nSize);
        std::string strContent;
        for (size_t i = 0; i < nSize; ++i) {
            strContent += static_cast<char>('a' + (i * 7 + i / 5) % 26);
        }
        const std::string strPath = dir.WriteFile("f" + std::to_string(nSize), strContent);
        auto_handle hFile;
        OpenForReading(strPath, hFile);
        CByteBuffer buffer;
        CReadAhead reader(hFile, buffer, kPiece);
        std::string strRead;
        size_t nPieces = 0;
        for (;;) {
            const char *pData = nullptr;
            size_t nRead = 0;
            CKyError error = reader.Next(pData, nRead);
            ASSERT_FALSE(error.IsError()) << error.AsString();
            ASSERT_LE(nRead, kPiece);
            strRead.append(pData ? pData : "", nRead);
            ++nPieces;
            if (nRead < kPiece) {
                break;
            }
        }
        EXPECT_EQ(strContent, strRead);
        EXPECT_EQ(nSize / kPiece + 1, nPieces);
        const char *pData = "";
        size_t nRead = 1;
        EXPECT_FALSE(reader.Next(pData, nRead).IsError());
        EXPECT_EQ(nullptr, pData);
        EXPECT_EQ(0u, nRead);
    }
}

// A caller that stops half-way (a file found too large) leaves while the reader waits for a
// buffer to fill; one that stops before the first piece leaves while the reader may be reading.
TEST(ReadAheadTest, ACallerMayLeaveBeforeTheEnd) {
    idxtest::TempDir dir;
    const std::string strPath = dir.WriteFile("f", std::string(100 * kPiece, 'x'));
    auto_handle hFile;
    OpenForReading(strPath, hFile);
    for (int nTaken : {0, 1, 3}) {
        SCOPED_TRACE(nTaken);
        ASSERT_EQ(0, lseek(hFile.get(), 0, SEEK_SET));
        CByteBuffer buffer;
        CReadAhead reader(hFile, buffer, kPiece);
        for (int i = 0; i < nTaken; ++i) {
            const char *pData = nullptr;
            size_t nRead = 0;
            ASSERT_FALSE(reader.Next(pData, nRead).IsError());
            EXPECT_EQ(std::string(kPiece, 'x'), std::string(pData, nRead));
        }
    }
}

// A read that fails (a folder has no bytes to read) is the caller's error, and ends the pieces.
TEST(ReadAheadTest, AReadErrorIsHandedToTheCallerAndEndsThePieces) {
    idxtest::TempDir dir;
    auto_handle hFolder;
    OpenForReading(dir.Path(), hFolder);
    CByteBuffer buffer;
    CReadAhead reader(hFolder, buffer, kPiece);
    const char *pData = nullptr;
    size_t nRead = 0;
    CKyError error = reader.Next(pData, nRead);
    EXPECT_TRUE(error.IsError());
    EXPECT_EQ(nullptr, pData);
    EXPECT_FALSE(reader.Next(pData, nRead).IsError());
    EXPECT_EQ(0u, nRead);
}
