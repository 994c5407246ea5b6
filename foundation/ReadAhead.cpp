#include "foundation/ReadAhead.h"

#include <system_error>

#include "foundation/ErrorCodes.h"
#include "foundation/FileData.h"

CReadAhead::CReadAhead(const auto_handle &hFile, CByteBuffer &first, size_t nPieceSize)
    : m_hFile(hFile), m_nPieceSize(nPieceSize) {
    m_aPieces[0].pBuffer = &first;
    m_aPieces[1].pBuffer = &m_second;
    if (!first.Reserve(nPieceSize) || !m_second.Reserve(nPieceSize)) {
        m_bNoMemory = true; // Next says so
        return;
    }
    try {
        m_reader = std::thread(&CReadAhead::ReadPieces, this);
    } catch (const std::system_error &) {
        // Next reads on the caller's thread.
    }
}

CReadAhead::~CReadAhead() {
    if (m_reader.joinable()) {
        {
            CStdMutexLock guard(m_lock);
            m_bStop = true;
        }
        m_changed.notify_all();
        m_reader.join();
    }
}

CKyError CReadAhead::ReadPiece(Piece &piece) {
    piece.nRead = 0;
    return FXFile::TQReadFile(m_hFile, piece.pBuffer->Data(), m_nPieceSize, piece.nRead);
}

void CReadAhead::ReadPieces() {
    for (size_t nPiece = 0;; nPiece ^= 1) {
        Piece &piece = m_aPieces[nPiece];
        {
            CStdMutexLock guard(m_lock);
            m_changed.wait(guard.Native(),
                           [&]() IDX_REQUIRES(m_lock) { return m_bStop || !piece.bFull; });
            if (m_bStop) {
                return;
            }
        }
        // The piece is the reader's alone until it is marked full.
        CKyError error = ReadPiece(piece);
        const bool bLast = error.IsError() || piece.nRead < m_nPieceSize;
        {
            CStdMutexLock guard(m_lock);
            piece.error = error;
            piece.bFull = true;
        }
        m_changed.notify_all();
        if (bLast) {
            return;
        }
    }
}

CKyError CReadAhead::Next(const char *&pData, size_t &nRead) {
    pData = nullptr;
    nRead = 0;
    if (m_bEnded) {
        return CKyError::Success();
    }
    if (m_bNoMemory) {
        m_bEnded = true;
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eNotEnoughMemory,
                                       "Not enough memory for two read buffers of %zu bytes",
                                       m_nPieceSize);
    }
    Piece &piece = m_aPieces[m_nNext];
    CKyError error;
    if (!m_reader.joinable()) {
        error = ReadPiece(piece);
    } else {
        CStdMutexLock guard(m_lock);
        if (m_bHandedOut) {
            // The piece the caller had is done with: the reader may fill it again.
            m_aPieces[m_nNext ^ 1].bFull = false;
            m_changed.notify_all();
        }
        m_changed.wait(guard.Native(), [&]() IDX_REQUIRES(m_lock) { return piece.bFull; });
        error = piece.error;
    }
    m_bHandedOut = true;
    m_nNext ^= 1;
    if (error.IsError() || piece.nRead < m_nPieceSize) {
        m_bEnded = true;
    }
    if (error.IsError()) {
        return error;
    }
    pData = piece.pBuffer->Data();
    nRead = piece.nRead;
    return CKyError::Success();
}
