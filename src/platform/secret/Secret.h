// Secrets in memory (passwords): a text that wipes every copy of itself it lets go, and the wipe.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace korrin::platform {

// Overwrites size bytes at data with zeros in a way the compiler cannot leave out.
void WipeMemory(void* data, std::size_t size);

// Wipes a string's characters, then empties it.
void WipeString(std::string& text);

// A secret text. Every buffer it has held is wiped before it is freed: when the secret
// changes, grows, is moved from or goes. It converts to a std::string only on request (copy()),
// so a copy that would not be wiped is made where it can be seen.
class Secret {
  public:
    Secret() = default;
    explicit Secret(std::string_view text) { assign(text); }
    Secret(const Secret& other) { assign(other.view()); }
    Secret(Secret&& other) noexcept;
    Secret& operator=(const Secret& other);
    Secret& operator=(Secret&& other) noexcept;
    ~Secret() { clear(); }

    void assign(std::string_view text);
    void append(std::string_view text);
    void append(char c) { append(std::string_view(&c, 1)); }
    // Makes room for size characters and returns them to be filled (a read from the
    // settings, an encoder's output); the text is then that long.
    char* resize(std::size_t size);
    void clear();

    std::string_view view() const { return {data_.get(), size_}; }
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string copy() const { return std::string(view()); }

  private:
    void reserve(std::size_t capacity);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace korrin::platform
