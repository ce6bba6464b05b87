// The properties of one object held as owned values, and the tables built of such bags.
// Internal to the messaging layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mapi/MapiInterfaces.h"

namespace korrin::platform::mapi_detail {

struct PropData {
    ULONG tag = 0;
    std::int64_t num = 0;  // PT_LONG, PT_BOOLEAN, PT_I2, PT_I8, PT_SYSTIME, PT_ERROR
    std::string bytes;     // PT_STRING8 (without the NUL), PT_BINARY
};

class PropBag {
  public:
    // Stores a copy. PT_ERROR, PT_NULL and PT_OBJECT values are not stored (false); PT_UNICODE
    // and other types the layer does not keep fail with MAPI_E_INVALID_TYPE.
    SCODE Set(const SPropValue& value);
    void SetString(ULONG tag, std::string text);
    void SetBinary(ULONG tag, std::string bytes);
    void SetLong(ULONG tag, std::int64_t value);
    void SetBool(ULONG tag, bool value) { SetLong(tag, value ? 1 : 0); }
    void Put(const PropData& p);
    void Delete(ULONG tag);
    void Clear() { props_.clear(); }

    // By property ID; the type must match unless tag's type is PT_UNSPECIFIED.
    const PropData* Find(ULONG tag) const;
    std::string String(ULONG tag) const;  // "" when missing
    std::int64_t Long(ULONG tag, std::int64_t missing = 0) const;
    bool Has(ULONG tag) const { return Find(tag) != nullptr; }
    const std::vector<PropData>& all() const { return props_; }

    // tags null: all. One MAPIAllocateBuffer block; missing values as PT_ERROR MAPI_E_NOT_FOUND
    // (and MAPI_W_ERRORS_RETURNED).
    HRESULT GetProps(const SPropTagArray* tags, ULONG* count, SPropValue** props) const;
    // Writes the value into out with its strings and bytes on chain.
    SCODE Fill(const PropData& p, void* chain, SPropValue* out) const;

  private:
    std::vector<PropData> props_;
};

// Does the row satisfy the restriction? MAPI_E_TOO_COMPLEX for kinds not understood.
HRESULT Matches(const PropBag& row, const SRestriction* restriction, bool* matches);

// A table of rows held in memory, as every table of this layer is.
class RowTable final : public MapiObject<IMAPITable> {
  public:
    RowTable(std::vector<PropBag> rows, std::vector<ULONG> columns);
    HRESULT SetColumns(const SPropTagArray* columns, ULONG flags) override;
    HRESULT Restrict(const SRestriction* restriction, ULONG flags) override;
    HRESULT SeekRow(ULONG bookmark, std::int32_t rowCount, std::int32_t* sought) override;
    HRESULT GetRowCount(ULONG flags, ULONG* count) override;
    HRESULT QueryRows(std::int32_t rowCount, ULONG flags, SRowSet** rows) override;

  private:
    std::vector<PropBag> all_;
    std::vector<const PropBag*> view_;
    std::vector<ULONG> columns_;
    std::size_t position_ = 0;
};

// Property arrays of the object kinds, each a MAPIAllocateBuffer block: SPropValue array of one
// value, used by HrGetOneProp-style callers.
HRESULT DupOne(const SPropValue& value, SPropValue** out);

}  // namespace korrin::platform::mapi_detail
