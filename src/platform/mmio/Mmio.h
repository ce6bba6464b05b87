// RIFF chunk I/O over buffered POSIX files: open, read, write, seek, and the chunk calls
// (descend, ascend, create) that wave files are read and written with.
//
// A handle belongs to one thread at a time. Offsets and sizes are 32-bit, as in every RIFF
// file; chunk headers are read and written byte by byte, little-endian.
//
// Sharing: MMIO_EXCLUSIVE takes an exclusive advisory lock on the file and MMIO_DENYWRITE a
// shared one, both without waiting; an open that cannot get its lock fails. So a file that
// is being read with MMIO_DENYWRITE cannot be created anew over itself by another open
// (MMIO_CREATE truncates only once the lock is held).
//
// Only regular files are opened: a FIFO, a device or a folder at the path is refused without
// waiting. MMIO_CREATE never follows a link at the path itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/MMSystem.h"
#include "platform/Win32Types.h"

namespace korrin::platform {

using FOURCC = std::uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<unsigned char>(a)) |
           static_cast<FOURCC>(static_cast<unsigned char>(b)) << 8 |
           static_cast<FOURCC>(static_cast<unsigned char>(c)) << 16 |
           static_cast<FOURCC>(static_cast<unsigned char>(d)) << 24;
}

constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;

// Open flags.
constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_EXCLUSIVE = 0x00000010;
constexpr DWORD MMIO_DENYWRITE = 0x00000020;
constexpr DWORD MMIO_DENYREAD = 0x00000030;
constexpr DWORD MMIO_DENYNONE = 0x00000040;
constexpr DWORD MMIO_CREATE = 0x00001000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;

// Descend and create flags.
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr UINT MMIO_FINDRIFF = 0x0020;
constexpr UINT MMIO_FINDLIST = 0x0040;
constexpr UINT MMIO_CREATERIFF = 0x0020;
constexpr UINT MMIO_CREATELIST = 0x0040;
// Set in MMCKINFO::dwFlags by mmioCreateChunk: ascending writes the real size back.
constexpr DWORD MMIO_DIRTY = 0x10000000;

struct MMCKINFO {
    FOURCC ckid = 0;
    DWORD cksize = 0;
    FOURCC fccType = 0;      // RIFF and LIST chunks only
    DWORD dwDataOffset = 0;  // file offset of the chunk's data (for RIFF/LIST: of fccType)
    DWORD dwFlags = 0;
};

struct MmioFile;
using HMMIO = MmioFile*;

// Null when the file cannot be opened (errno tells why). Every open is buffered; the
// buffer is 64 KiB, so reading or writing in small pieces costs no system call per piece.
HMMIO mmioOpen(const std::string& path, DWORD flags);
// Writes what is buffered and closes; MMIOERR_CANNOTWRITE when that fails (the handle is
// released either way).
MMRESULT mmioClose(HMMIO h, UINT flags = 0);

// Bytes read (0 at the end of the file), -1 on failure.
long mmioRead(HMMIO h, void* buffer, long count);
// Bytes written, -1 on failure.
long mmioWrite(HMMIO h, const void* buffer, long count);
// origin: SEEK_SET, SEEK_CUR, SEEK_END. The new position, -1 on failure.
long mmioSeek(HMMIO h, long offset, int origin);

// Reads the chunk header at the current position. With MMIO_FINDCHUNK (ckid), MMIO_FINDRIFF
// or MMIO_FINDLIST (fccType) it skips chunks until one matches. With a parent it never goes
// past the parent's end. On success the position is the start of the chunk's data (after
// fccType for RIFF and LIST). MMIOERR_CHUNKNOTFOUND when nothing (more) is found.
MMRESULT mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, UINT flags);
// Leaves the chunk: a chunk made by mmioCreateChunk gets its real size written back and
// an odd size padded with one zero byte; then the position moves past the chunk (and its
// pad byte).
MMRESULT mmioAscend(HMMIO h, MMCKINFO* ck, UINT flags = 0);
// Writes a chunk header (ckid, cksize, and fccType with MMIO_CREATERIFF or
// MMIO_CREATELIST) at the current position.
MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* ck, UINT flags);

}  // namespace korrin::platform
