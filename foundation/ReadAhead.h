// Reads an open file from where it stands to its end in pieces of a fixed size, on a thread of its
// own that stays one piece ahead of the caller: while the caller works on one piece (hashes it,
// say), the next one is being read into the other of two buffers. A pass over a large file then
// takes about as long as the slower of reading and the caller's work, instead of their sum.
//
// Where no thread can be started, the pieces are read on the caller's thread, one at a time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <thread>

#include "foundation/ByteBuffer.h"
#include "foundation/HandleOwners.h"
#include "foundation/KyError.h"
#include "foundation/Locks.h"

class CReadAhead {
public:
    // Reads hFile in pieces of nPieceSize bytes through first and a second buffer of its own.
    // hFile must stay open, and first must stay, until the reader is destroyed.
    CReadAhead(const auto_handle &hFile, CByteBuffer &first, size_t nPieceSize);
    // Stops reading and waits for a piece being read.
    ~CReadAhead();
    CReadAhead(const CReadAhead &) = delete;
    CReadAhead &operator=(const CReadAhead &) = delete;

    // The next piece, valid until the next call: pData and nRead. A piece shorter than the piece
    // size (empty, at the end) is the last; after it, or after an error, there is none. The
    // error of the read, or of memory for the second buffer.
    CKyError Next(const char *&pData, size_t &nRead);

private:
    struct Piece {
        CByteBuffer *pBuffer = nullptr;
        size_t nRead = 0;
        CKyError error;
        bool bFull = false; // read, and not yet given back by the caller
    };

    void ReadPieces();
    CKyError ReadPiece(Piece &piece);

    const auto_handle &m_hFile;
    const size_t m_nPieceSize;
    CByteBuffer m_second;
    CStdMutex m_lock;
    std::condition_variable m_changed;
    // Handed between the two threads by bFull, which is read and written with m_lock held, as is
    // error: a piece that is not full is the reader's, a full one the caller's, and its buffer and
    // length are touched only by its holder. The analysis cannot follow such a hand-over, so the
    // pieces carry no IDX_GUARDED_BY.
    Piece m_aPieces[2];
    bool m_bStop IDX_GUARDED_BY(m_lock) = false;
    size_t m_nNext = 0;        // the piece the caller takes next (caller's thread only)
    bool m_bHandedOut = false; // the caller holds the other piece (caller's thread only)
    bool m_bEnded = false;     // the last piece or an error was handed out (caller's thread only)
    bool m_bNoMemory = false;  // a buffer could not be had: Next fails
    std::thread m_reader;      // not joinable when pieces are read on the caller's thread
};
