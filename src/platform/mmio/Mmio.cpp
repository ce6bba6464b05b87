#include "platform/mmio/Mmio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Endian.h"

namespace korrin::platform {

// One buffer that holds either bytes read ahead or bytes not yet written: [bufOff,
// bufOff + bufLen) of the file. When dirty, the whole range is written out on flush.
struct MmioFile {
    int fd = -1;
    bool canRead = false;
    bool canWrite = false;
    std::int64_t pos = 0;
    std::vector<unsigned char> buf;
    std::int64_t bufOff = 0;
    std::size_t bufLen = 0;
    bool dirty = false;
};

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

bool flushBuffer(MmioFile* f) {
    if (!f->dirty)
        return true;
    std::size_t done = 0;
    while (done < f->bufLen) {
        ssize_t n = ::pwrite(f->fd, f->buf.data() + done, f->bufLen - done,
                             static_cast<off_t>(f->bufOff + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    f->dirty = false;
    return true;
}

// Drops the buffer's contents (after writing them out).
bool resetBuffer(MmioFile* f, std::int64_t at) {
    if (!flushBuffer(f))
        return false;
    f->bufOff = at;
    f->bufLen = 0;
    return true;
}

ssize_t preadAll(int fd, unsigned char* p, std::size_t n, std::int64_t at) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(at + std::int64_t(done)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

std::int64_t fileEnd(MmioFile* f) {
    struct stat st {};
    std::int64_t size = ::fstat(f->fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    if (f->dirty)
        size = std::max(size, f->bufOff + static_cast<std::int64_t>(f->bufLen));
    return size;
}

// The end of a chunk's data including the pad byte of an odd size.
std::int64_t chunkEnd(const MMCKINFO& ck) {
    return static_cast<std::int64_t>(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1);
}

}  // namespace

HMMIO mmioOpen(const std::string& path, DWORD flags) {
    const DWORD access = flags & 0x3;
    const DWORD share = flags & 0x70;
    int oflags = O_CLOEXEC;
    if (access == MMIO_WRITE)
        oflags |= O_WRONLY;
    else if (access == MMIO_READWRITE)
        oflags |= O_RDWR;
    else if (access == MMIO_READ)
        oflags |= O_RDONLY;
    else {
        errno = EINVAL;
        return nullptr;
    }
    // Never blocks on a FIFO or a device in the file's place: such a path is refused below.
    oflags |= O_NONBLOCK | O_NOCTTY;
    // A created file is never reached through a link at its name.
    if (flags & MMIO_CREATE)
        oflags |= O_CREAT | O_NOFOLLOW;
    int fd = ::open(path.c_str(), oflags, 0644);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    const int status = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || status < 0 ||
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const int e = S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = e;
        return nullptr;
    }
    int lock = 0;
    if (share == MMIO_EXCLUSIVE)
        lock = LOCK_EX;
    else if (share == MMIO_DENYWRITE || share == MMIO_DENYREAD)
        lock = LOCK_SH;
    if (lock && ::flock(fd, lock | LOCK_NB) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return nullptr;
    }
    // Truncate only once the lock is held, so a file being read is never emptied.
    if ((flags & MMIO_CREATE) && ::ftruncate(fd, 0) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return nullptr;
    }
    auto* f = new (std::nothrow) MmioFile;
    if (!f) {
        ::close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    f->fd = fd;
    f->canRead = access != MMIO_WRITE;
    f->canWrite = access != MMIO_READ;
    f->buf.resize(kBufferSize);
    return f;
}

MMRESULT mmioClose(HMMIO h, UINT) {
    if (!h)
        return MMSYSERR_INVALHANDLE;
    bool ok = flushBuffer(h);
    if (::close(h->fd) != 0)
        ok = false;
    delete h;
    return ok ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

long mmioRead(HMMIO h, void* buffer, long count) {
    if (!h || count < 0 || (!buffer && count > 0) || !h->canRead)
        return -1;
    auto* out = static_cast<unsigned char*>(buffer);
    long done = 0;
    while (done < count) {
        const std::int64_t bufEnd = h->bufOff + static_cast<std::int64_t>(h->bufLen);
        if (h->pos >= h->bufOff && h->pos < bufEnd) {
            std::size_t at = static_cast<std::size_t>(h->pos - h->bufOff);
            std::size_t n =
                std::min<std::size_t>(h->bufLen - at, static_cast<std::size_t>(count - done));
            std::memcpy(out + done, h->buf.data() + at, n);
            done += static_cast<long>(n);
            h->pos += static_cast<std::int64_t>(n);
            continue;
        }
        if (!resetBuffer(h, h->pos))
            return -1;
        const std::size_t want = static_cast<std::size_t>(count - done);
        if (want >= h->buf.size()) {
            // Large reads go straight into the caller's memory.
            ssize_t n = preadAll(h->fd, out + done, want, h->pos);
            if (n < 0)
                return -1;
            done += n;
            h->pos += n;
            break;
        }
        ssize_t n = preadAll(h->fd, h->buf.data(), h->buf.size(), h->pos);
        if (n < 0)
            return -1;
        h->bufLen = static_cast<std::size_t>(n);
        if (n == 0)
            break;
    }
    return done;
}

long mmioWrite(HMMIO h, const void* buffer, long count) {
    if (!h || count < 0 || (!buffer && count > 0) || !h->canWrite)
        return -1;
    auto* in = static_cast<const unsigned char*>(buffer);
    long done = 0;
    while (done < count) {
        const std::int64_t bufEnd = h->bufOff + static_cast<std::int64_t>(h->bufLen);
        const bool inside = h->pos >= h->bufOff && h->pos <= bufEnd &&
                            h->pos < h->bufOff + static_cast<std::int64_t>(h->buf.size());
        if (!inside) {
            if (!resetBuffer(h, h->pos))
                return -1;
            const std::size_t want = static_cast<std::size_t>(count - done);
            if (want >= h->buf.size()) {
                std::size_t put = 0;
                while (put < want) {
                    ssize_t n = ::pwrite(h->fd, in + done + put, want - put,
                                         static_cast<off_t>(h->pos + std::int64_t(put)));
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0)
                        return done + static_cast<long>(put) > 0 ? done + long(put) : -1;
                    put += static_cast<std::size_t>(n);
                }
                h->pos += static_cast<std::int64_t>(want);
                return count;
            }
            continue;
        }
        std::size_t at = static_cast<std::size_t>(h->pos - h->bufOff);
        std::size_t n = std::min<std::size_t>(h->buf.size() - at, std::size_t(count - done));
        std::memcpy(h->buf.data() + at, in + done, n);
        h->bufLen = std::max(h->bufLen, at + n);
        h->dirty = true;
        h->pos += static_cast<std::int64_t>(n);
        done += static_cast<long>(n);
    }
    return done;
}

long mmioSeek(HMMIO h, long offset, int origin) {
    if (!h)
        return -1;
    std::int64_t base = 0;
    if (origin == SEEK_CUR)
        base = h->pos;
    else if (origin == SEEK_END)
        base = fileEnd(h);
    else if (origin != SEEK_SET)
        return -1;
    std::int64_t to = base + offset;
    if (to < 0)
        return -1;
    h->pos = to;
    return static_cast<long>(to);
}

MMRESULT mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, UINT flags) {
    if (!h || !ck)
        return MMSYSERR_INVALPARAM;
    const FOURCC wantId = ck->ckid;
    const FOURCC wantType = ck->fccType;
    const std::int64_t limit = parent ? chunkEnd(*parent) : INT64_MAX;
    for (;;) {
        if (h->pos + 8 > limit)
            return MMIOERR_CHUNKNOTFOUND;
        unsigned char head[12];
        if (mmioRead(h, head, 8) != 8)
            return MMIOERR_CHUNKNOTFOUND;
        MMCKINFO found;
        found.ckid = LoadLE32(head);
        found.cksize = LoadLE32(head + 4);
        found.dwDataOffset = static_cast<DWORD>(h->pos);
        const bool isList = found.ckid == FOURCC_RIFF || found.ckid == FOURCC_LIST;
        if (isList) {
            if (mmioRead(h, head + 8, 4) != 4)
                return MMIOERR_CHUNKNOTFOUND;
            found.fccType = LoadLE32(head + 8);
        }
        bool match = true;
        if (flags & MMIO_FINDCHUNK)
            match = found.ckid == wantId;
        else if (flags & MMIO_FINDRIFF)
            match = found.ckid == FOURCC_RIFF && found.fccType == wantType;
        else if (flags & MMIO_FINDLIST)
            match = found.ckid == FOURCC_LIST && found.fccType == wantType;
        if (match) {
            *ck = found;
            return MMSYSERR_NOERROR;
        }
        if (mmioSeek(h, static_cast<long>(chunkEnd(found)), SEEK_SET) < 0)
            return MMIOERR_CANNOTSEEK;
    }
}

MMRESULT mmioAscend(HMMIO h, MMCKINFO* ck, UINT) {
    if (!h || !ck)
        return MMSYSERR_INVALPARAM;
    if (ck->dwFlags & MMIO_DIRTY) {
        const std::int64_t end = h->pos;
        if (end < ck->dwDataOffset)
            return MMIOERR_CANNOTSEEK;
        const std::int64_t size = end - ck->dwDataOffset;
        if (size > 0xFFFFFFFFLL)
            return MMIOERR_CANNOTEXPAND;
        if (size & 1) {
            const unsigned char pad = 0;
            if (mmioWrite(h, &pad, 1) != 1)
                return MMIOERR_CANNOTWRITE;
        }
        if (static_cast<DWORD>(size) != ck->cksize) {
            unsigned char le[4];
            StoreLE32(le, static_cast<DWORD>(size));
            if (mmioSeek(h, static_cast<long>(ck->dwDataOffset) - 4, SEEK_SET) < 0 ||
                mmioWrite(h, le, 4) != 4)
                return MMIOERR_CANNOTWRITE;
            ck->cksize = static_cast<DWORD>(size);
        }
        ck->dwFlags &= ~MMIO_DIRTY;
    }
    if (mmioSeek(h, static_cast<long>(chunkEnd(*ck)), SEEK_SET) < 0)
        return MMIOERR_CANNOTSEEK;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* ck, UINT flags) {
    if (!h || !ck)
        return MMSYSERR_INVALPARAM;
    unsigned char head[12];
    long length = 8;
    if (flags & MMIO_CREATERIFF)
        ck->ckid = FOURCC_RIFF;
    else if (flags & MMIO_CREATELIST)
        ck->ckid = FOURCC_LIST;
    StoreLE32(head, ck->ckid);
    StoreLE32(head + 4, ck->cksize);
    if (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) {
        StoreLE32(head + 8, ck->fccType);
        length = 12;
    }
    if (h->pos + 8 > 0xFFFFFFFFLL)
        return MMIOERR_CANNOTEXPAND;
    if (mmioWrite(h, head, length) != length)
        return MMIOERR_CANNOTWRITE;
    ck->dwDataOffset = static_cast<DWORD>(h->pos - length + 8);
    ck->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

}  // namespace korrin::platform
