#include "platform/secret/Secret.h"

#include <algorithm>
#include <cstring>

namespace korrin::platform {

void WipeMemory(void* data, std::size_t size) {
    if (data && size)
        explicit_bzero(data, size);
}

void WipeString(std::string& text) {
    // The whole buffer: a shorter text may still hold the end of a longer one.
    WipeMemory(text.data(), text.capacity());
    text.clear();
}

Secret::Secret(Secret&& other) noexcept
    : data_(std::move(other.data_)), size_(other.size_), capacity_(other.capacity_) {
    other.size_ = other.capacity_ = 0;
}

Secret& Secret::operator=(const Secret& other) {
    if (this != &other)
        assign(other.view());
    return *this;
}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        clear();
        data_ = std::move(other.data_);
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

void Secret::reserve(std::size_t capacity) {
    if (capacity <= capacity_)
        return;
    auto bigger = std::make_unique<char[]>(capacity);
    if (size_)
        std::memcpy(bigger.get(), data_.get(), size_);
    WipeMemory(data_.get(), capacity_);
    data_ = std::move(bigger);
    capacity_ = capacity;
}

void Secret::assign(std::string_view text) {
    if (text.data() >= data_.get() && text.data() < data_.get() + capacity_) {
        // A piece of itself: moved to the front.
        std::memmove(data_.get(), text.data(), text.size());
        WipeMemory(data_.get() + text.size(), capacity_ - text.size());
        size_ = text.size();
        return;
    }
    WipeMemory(data_.get(), capacity_);
    size_ = 0;
    append(text);
}

void Secret::append(std::string_view text) {
    if (text.empty())
        return;
    if (size_ + text.size() > capacity_) {
        if (text.data() >= data_.get() && text.data() < data_.get() + capacity_) {
            Secret copy(text);
            append(copy.view());
            return;
        }
        reserve(std::max<std::size_t>(size_ + text.size(), capacity_ * 2));
    }
    std::memcpy(data_.get() + size_, text.data(), text.size());
    size_ += text.size();
}

char* Secret::resize(std::size_t size) {
    reserve(size);
    if (size < size_)
        WipeMemory(data_.get() + size, size_ - size);
    size_ = size;
    return data_.get();
}

void Secret::clear() {
    WipeMemory(data_.get(), capacity_);
    size_ = 0;
}

}  // namespace korrin::platform
