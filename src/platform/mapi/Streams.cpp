// Streams over memory and over files, and the row and property helpers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/files/Files.h"
#include "platform/mapi/Mapi.h"
#include "platform/mapi/PropBag.h"
#include "platform/mapi/Store.h"

namespace korrin::platform {

namespace {

constexpr std::uint64_t kMaxMemoryStream = 1ull << 31;  // attachments are held in memory

HRESULT seekTo(std::uint64_t position, std::uint64_t size, std::int64_t move, ULONG origin,
               std::uint64_t* result) {
    std::int64_t base = origin == STREAM_SEEK_SET   ? 0
                        : origin == STREAM_SEEK_CUR ? static_cast<std::int64_t>(position)
                        : origin == STREAM_SEEK_END ? static_cast<std::int64_t>(size)
                                                    : -1;
    if (base < 0 || (move < 0 && -move > base))
        return MAPI_E_INVALID_PARAMETER;
    *result = static_cast<std::uint64_t>(base + move);
    return S_OK;
}

HRESULT copyBetween(IStream* from, IStream* target, std::uint64_t size, std::uint64_t* read,
                    std::uint64_t* written) {
    if (read)
        *read = 0;
    if (written)
        *written = 0;
    if (!target)
        return MAPI_E_INVALID_PARAMETER;
    char buf[65536];
    std::uint64_t left = size;
    while (left > 0) {
        ULONG want = static_cast<ULONG>(std::min<std::uint64_t>(left, sizeof buf));
        ULONG got = 0;
        HRESULT hr = from->Read(buf, want, &got);
        if (FAILED(hr))
            return hr;
        if (got == 0)
            break;
        if (read)
            *read += got;
        ULONG put = 0;
        hr = target->Write(buf, got, &put);
        if (FAILED(hr))
            return hr;
        if (written)
            *written += put;
        left -= got;
    }
    return S_OK;
}

}  // namespace

namespace mapi_detail {

// An attachment's data before and after it is saved.
class MemoryStream final : public MapiObject<IStream> {
  public:
    explicit MemoryStream(std::shared_ptr<std::string> bytes) : shared_(std::move(bytes)) {}
    HRESULT Read(void* data, ULONG size, ULONG* read) override {
        if (!data && size)
            return MAPI_E_INVALID_PARAMETER;
        std::size_t n =
            position_ >= bytes_.size() ? 0 : std::min<std::size_t>(size, bytes_.size() - position_);
        if (n)
            std::memcpy(data, bytes_.data() + position_, n);
        position_ += n;
        if (read)
            *read = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT Write(const void* data, ULONG size, ULONG* written) override {
        if (!data && size)
            return MAPI_E_INVALID_PARAMETER;
        if (position_ + size > kMaxMemoryStream)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        if (position_ + size > bytes_.size())
            bytes_.resize(position_ + size);
        if (size)
            std::memcpy(bytes_.data() + position_, data, size);
        position_ += size;
        if (written)
            *written = size;
        return S_OK;
    }
    HRESULT Seek(std::int64_t move, ULONG origin, std::uint64_t* newPosition) override {
        std::uint64_t to = 0;
        HRESULT hr = seekTo(position_, bytes_.size(), move, origin, &to);
        if (FAILED(hr))
            return hr;
        position_ = to;
        if (newPosition)
            *newPosition = to;
        return S_OK;
    }
    HRESULT SetSize(std::uint64_t size) override {
        if (size > kMaxMemoryStream)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        bytes_.resize(size);
        return S_OK;
    }
    HRESULT CopyTo(IStream* target, std::uint64_t size, std::uint64_t* read,
                   std::uint64_t* written) override {
        return copyBetween(this, target, size, read, written);
    }
    HRESULT Commit(ULONG) override { return S_OK; }
    HRESULT Stat(STATSTG* stat, ULONG) override {
        if (!stat)
            return MAPI_E_INVALID_PARAMETER;
        stat->pwcsName = nullptr;
        stat->type = 2;
        stat->cbSize = bytes_.size();
        return S_OK;
    }

  private:
    // Shared with the attachment the stream was opened on: writes land in it at once.
    std::shared_ptr<std::string> shared_;
    std::string& bytes_ = *shared_;
    std::uint64_t position_ = 0;
};

class FileStream final : public MapiObject<IStream> {
  public:
    explicit FileStream(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~FileStream() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    HRESULT Read(void* data, ULONG size, ULONG* read) override {
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::read(fd_, static_cast<char*>(data) + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return MAPI_E_DISK_ERROR;
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        if (read)
            *read = static_cast<ULONG>(done);
        return S_OK;
    }
    HRESULT Write(const void* data, ULONG size, ULONG* written) override {
        if (!WriteAll(fd_, data, size))
            return MAPI_E_DISK_ERROR;
        if (written)
            *written = size;
        return S_OK;
    }
    HRESULT Seek(std::int64_t move, ULONG origin, std::uint64_t* newPosition) override {
        int whence = origin == STREAM_SEEK_SET   ? SEEK_SET
                     : origin == STREAM_SEEK_CUR ? SEEK_CUR
                     : origin == STREAM_SEEK_END ? SEEK_END
                                                 : -1;
        if (whence < 0)
            return MAPI_E_INVALID_PARAMETER;
        off_t to = ::lseek(fd_, move, whence);
        if (to < 0)
            return MAPI_E_INVALID_PARAMETER;
        if (newPosition)
            *newPosition = static_cast<std::uint64_t>(to);
        return S_OK;
    }
    HRESULT SetSize(std::uint64_t size) override {
        return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? S_OK : MAPI_E_DISK_ERROR;
    }
    HRESULT CopyTo(IStream* target, std::uint64_t size, std::uint64_t* read,
                   std::uint64_t* written) override {
        return copyBetween(this, target, size, read, written);
    }
    HRESULT Commit(ULONG) override { return ::fsync(fd_) == 0 ? S_OK : MAPI_E_DISK_ERROR; }
    HRESULT Stat(STATSTG* stat, ULONG flags) override {
        if (!stat)
            return MAPI_E_INVALID_PARAMETER;
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return MAPI_E_DISK_ERROR;
        stat->type = 2;
        stat->cbSize = static_cast<std::uint64_t>(st.st_size);
        stat->pwcsName = nullptr;
        if (!(flags & STATFLAG_NONAME)) {
            void* p = nullptr;
            if (SUCCEEDED(MAPIAllocateBuffer(static_cast<ULONG>(name_.size() + 1), &p))) {
                std::memcpy(p, name_.c_str(), name_.size() + 1);
                stat->pwcsName = static_cast<char*>(p);
            }
        }
        return S_OK;
    }

  private:
    int fd_;
    std::string name_;
};

IStream* NewMemoryStream(std::shared_ptr<std::string> bytes) {
    return new MemoryStream(bytes ? std::move(bytes) : std::make_shared<std::string>());
}

}  // namespace mapi_detail

HRESULT CreateMemoryStream(IStream** stream) {
    if (!stream)
        return MAPI_E_INVALID_PARAMETER;
    *stream = mapi_detail::NewMemoryStream(nullptr);
    return S_OK;
}

HRESULT OpenStreamOnFile(LPALLOCATEBUFFER, LPFREEBUFFER, ULONG flags, const char* fileName,
                         const char*, IStream** stream) {
    if (!stream || !fileName || !*fileName)
        return MAPI_E_INVALID_PARAMETER;
    *stream = nullptr;
    int fd = -1;
    if (flags & STGM_CREATE) {
        int mode = (flags & STGM_READWRITE) ? O_RDWR : O_WRONLY;
        fd = ::open(fileName, mode | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    } else if (flags & (STGM_WRITE | STGM_READWRITE)) {
        int mode = (flags & STGM_READWRITE) ? O_RDWR : O_WRONLY;
        fd = ::open(fileName, mode | O_CLOEXEC);
    } else {
        fd = OpenRegularFile(fileName);
    }
    if (fd < 0)
        return errno == ENOENT ? MAPI_E_NOT_FOUND : MAPI_E_NO_ACCESS;
    *stream = new mapi_detail::FileStream(fd, fileName);
    return S_OK;
}

HRESULT HrQueryAllRows(IMAPITable* table, const SPropTagArray* columns,
                       const SRestriction* restriction, const SSortOrderSet* sort, ULONG maxRows,
                       SRowSet** rows) {
    if (!rows)
        return MAPI_E_INVALID_PARAMETER;
    *rows = nullptr;
    if (!table)
        return MAPI_E_INVALID_PARAMETER;
    if (sort)
        return MAPI_E_TOO_COMPLEX;
    HRESULT hr = S_OK;
    if (columns && FAILED(hr = table->SetColumns(columns, 0)))
        return hr;
    if (FAILED(hr = table->Restrict(restriction, 0)))
        return hr;
    if (FAILED(hr = table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)))
        return hr;
    std::int32_t want =
        maxRows ? static_cast<std::int32_t>(std::min<ULONG>(maxRows, 0x7FFFFFFF)) : 0x7FFFFFFF;
    return table->QueryRows(want, 0, rows);
}

HRESULT HrGetOneProp(IMAPIProp* object, ULONG propTag, SPropValue** prop) {
    if (!prop)
        return MAPI_E_INVALID_PARAMETER;
    *prop = nullptr;
    if (!object)
        return MAPI_E_INVALID_PARAMETER;
    SizedSPropTagArray<1> tags{1, {propTag}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    HRESULT hr = object->GetProps(AsTagArray(tags), 0, &count, &values);
    if (FAILED(hr))
        return hr;
    if (count != 1 || PROP_TYPE(values[0].ulPropTag) == PT_ERROR) {
        HRESULT why = count == 1 ? values[0].Value.err : MAPI_E_NOT_FOUND;
        MAPIFreeBuffer(values);
        return FAILED(why) ? why : MAPI_E_NOT_FOUND;
    }
    *prop = values;
    return S_OK;
}

HRESULT HrSetOneProp(IMAPIProp* object, const SPropValue* prop) {
    if (!object || !prop)
        return MAPI_E_INVALID_PARAMETER;
    return object->SetProps(1, prop, nullptr);
}

}  // namespace korrin::platform
