#include "platform/mapi/PropBag.h"

#include <algorithm>
#include <cstring>

#include "platform/mapi/Mapi.h"

namespace korrin::platform::mapi_detail {

namespace {

bool sameId(ULONG a, ULONG b) {
    return PROP_ID(a) == PROP_ID(b);
}

std::uint64_t asFileTime(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace

SCODE PropBag::Set(const SPropValue& v) {
    PropData d;
    d.tag = v.ulPropTag;
    switch (PROP_TYPE(v.ulPropTag)) {
        case PT_ERROR:
        case PT_NULL:
        case PT_OBJECT:
            return S_FALSE;
        case PT_I2:
            d.num = v.Value.i;
            break;
        case PT_LONG:
            d.num = v.Value.l;
            break;
        case PT_BOOLEAN:
            d.num = v.Value.b ? 1 : 0;
            break;
        case PT_I8:
            d.num = v.Value.li;
            break;
        case PT_SYSTIME:
            d.num = static_cast<std::int64_t>(asFileTime(v.Value.ft));
            break;
        case PT_STRING8:
            d.bytes = v.Value.lpszA ? v.Value.lpszA : "";
            break;
        case PT_BINARY:
            if (v.Value.bin.cb && !v.Value.bin.lpb)
                return MAPI_E_INVALID_PARAMETER;
            d.bytes.assign(reinterpret_cast<const char*>(v.Value.bin.lpb), v.Value.bin.cb);
            break;
        case PT_UNICODE:
            return MAPI_E_BAD_CHARWIDTH;
        default:
            return MAPI_E_INVALID_TYPE;
    }
    Delete(CHANGE_PROP_TYPE(v.ulPropTag, PT_UNSPECIFIED));
    props_.push_back(std::move(d));
    return S_OK;
}

void PropBag::SetString(ULONG tag, std::string text) {
    Delete(CHANGE_PROP_TYPE(tag, PT_UNSPECIFIED));
    props_.push_back({tag, 0, std::move(text)});
}

void PropBag::SetBinary(ULONG tag, std::string bytes) {
    SetString(tag, std::move(bytes));
}

void PropBag::SetLong(ULONG tag, std::int64_t value) {
    Delete(CHANGE_PROP_TYPE(tag, PT_UNSPECIFIED));
    props_.push_back({tag, value, {}});
}

void PropBag::Put(const PropData& p) {
    Delete(CHANGE_PROP_TYPE(p.tag, PT_UNSPECIFIED));
    props_.push_back(p);
}

void PropBag::Delete(ULONG tag) {
    props_.erase(std::remove_if(props_.begin(), props_.end(),
                                [&](const PropData& p) {
                                    return sameId(p.tag, tag) &&
                                           (PROP_TYPE(tag) == PT_UNSPECIFIED || p.tag == tag);
                                }),
                 props_.end());
}

const PropData* PropBag::Find(ULONG tag) const {
    for (const auto& p : props_)
        if (sameId(p.tag, tag) && (PROP_TYPE(tag) == PT_UNSPECIFIED || p.tag == tag))
            return &p;
    return nullptr;
}

std::string PropBag::String(ULONG tag) const {
    const PropData* p = Find(tag);
    return p ? p->bytes : std::string();
}

std::int64_t PropBag::Long(ULONG tag, std::int64_t missing) const {
    const PropData* p = Find(tag);
    return p ? p->num : missing;
}

SCODE PropBag::Fill(const PropData& p, void* chain, SPropValue* out) const {
    out->ulPropTag = p.tag;
    out->dwAlignPad = 0;
    switch (PROP_TYPE(p.tag)) {
        case PT_I2:
            out->Value.i = static_cast<std::int16_t>(p.num);
            break;
        case PT_LONG:
            out->Value.l = static_cast<std::int32_t>(p.num);
            break;
        case PT_BOOLEAN:
            out->Value.b = p.num ? 1 : 0;
            break;
        case PT_I8:
            out->Value.li = p.num;
            break;
        case PT_SYSTIME:
            out->Value.ft.dwLowDateTime = static_cast<std::uint32_t>(p.num);
            out->Value.ft.dwHighDateTime =
                static_cast<std::uint32_t>(static_cast<std::uint64_t>(p.num) >> 32);
            break;
        case PT_STRING8:
        case PT_BINARY: {
            if (p.bytes.size() >= 0x7FFFFFF0u)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            void* mem = nullptr;
            SCODE sc = MAPIAllocateMore(static_cast<ULONG>(p.bytes.size() + 1), chain, &mem);
            if (FAILED(sc))
                return sc;
            std::memcpy(mem, p.bytes.data(), p.bytes.size());
            if (PROP_TYPE(p.tag) == PT_STRING8) {
                out->Value.lpszA = static_cast<char*>(mem);
            } else {
                out->Value.bin.cb = static_cast<ULONG>(p.bytes.size());
                out->Value.bin.lpb = static_cast<BYTE*>(mem);
            }
            break;
        }
        default:
            out->Value.li = p.num;
            break;
    }
    return S_OK;
}

HRESULT PropBag::GetProps(const SPropTagArray* tags, ULONG* count, SPropValue** props) const {
    if (!count || !props)
        return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *props = nullptr;
    ULONG n = tags ? tags->cValues : static_cast<ULONG>(props_.size());
    if (n > 0x100000)
        return MAPI_E_INVALID_PARAMETER;
    void* block = nullptr;
    SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (n ? n : 1)), &block);
    if (FAILED(sc))
        return sc;
    auto* out = static_cast<SPropValue*>(block);
    bool missing = false;
    for (ULONG i = 0; i < n; ++i) {
        const PropData* p = tags ? Find(tags->aulPropTag[i]) : &props_[i];
        if (!p) {
            out[i].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[i], PT_ERROR);
            out[i].Value.err = MAPI_E_NOT_FOUND;
            missing = true;
            continue;
        }
        sc = Fill(*p, block, &out[i]);
        if (FAILED(sc)) {
            MAPIFreeBuffer(block);
            return sc;
        }
    }
    *count = n;
    *props = out;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT Matches(const PropBag& row, const SRestriction* r, bool* matches) {
    *matches = true;
    if (!r)
        return S_OK;
    switch (r->rt) {
        case RES_AND:
        case RES_OR: {
            bool isAnd = r->rt == RES_AND;
            *matches = isAnd;
            for (ULONG i = 0; i < r->res.resAnd.cRes; ++i) {
                bool m = false;
                HRESULT hr = Matches(row, &r->res.resAnd.lpRes[i], &m);
                if (FAILED(hr))
                    return hr;
                if (isAnd && !m)
                    *matches = false;
                if (!isAnd && m)
                    *matches = true;
            }
            return S_OK;
        }
        case RES_NOT: {
            bool m = false;
            HRESULT hr = Matches(row, r->res.resNot.lpRes, &m);
            *matches = !m;
            return hr;
        }
        case RES_EXIST:
            *matches = row.Has(r->res.resExist.ulPropTag);
            return S_OK;
        case RES_PROPERTY: {
            const SPropertyRestriction& pr = r->res.resProperty;
            if ((pr.relop != RELOP_EQ && pr.relop != RELOP_NE) || !pr.lpProp)
                return MAPI_E_TOO_COMPLEX;
            const PropData* have = row.Find(pr.ulPropTag);
            bool equal = false;
            if (have) {
                PropBag probe;
                if (FAILED(probe.Set(*pr.lpProp)))
                    return MAPI_E_INVALID_PARAMETER;
                const PropData* want = probe.Find(pr.lpProp->ulPropTag);
                equal = want && PROP_TYPE(want->tag) == PROP_TYPE(have->tag) &&
                        want->num == have->num && want->bytes == have->bytes;
            }
            // A row without the property satisfies neither EQ nor NE.
            *matches = have && (pr.relop == RELOP_EQ ? equal : !equal);
            return S_OK;
        }
        default:
            return MAPI_E_TOO_COMPLEX;
    }
}

RowTable::RowTable(std::vector<PropBag> rows, std::vector<ULONG> columns)
    : all_(std::move(rows)), columns_(std::move(columns)) {
    for (const auto& r : all_)
        view_.push_back(&r);
}

HRESULT RowTable::SetColumns(const SPropTagArray* columns, ULONG) {
    if (!columns)
        return MAPI_E_INVALID_PARAMETER;
    columns_.assign(columns->aulPropTag, columns->aulPropTag + columns->cValues);
    return S_OK;
}

HRESULT RowTable::Restrict(const SRestriction* restriction, ULONG) {
    std::vector<const PropBag*> view;
    for (const auto& r : all_) {
        bool m = false;
        HRESULT hr = Matches(r, restriction, &m);
        if (FAILED(hr))
            return hr;
        if (m)
            view.push_back(&r);
    }
    view_ = std::move(view);
    position_ = 0;
    return S_OK;
}

HRESULT RowTable::SeekRow(ULONG bookmark, std::int32_t rowCount, std::int32_t* sought) {
    std::int64_t base = bookmark == BOOKMARK_BEGINNING ? 0
                        : bookmark == BOOKMARK_END     ? static_cast<std::int64_t>(view_.size())
                        : bookmark == BOOKMARK_CURRENT ? static_cast<std::int64_t>(position_)
                                                       : -1;
    if (base < 0)
        return MAPI_E_INVALID_PARAMETER;
    std::int64_t to =
        std::clamp<std::int64_t>(base + rowCount, 0, static_cast<std::int64_t>(view_.size()));
    if (sought)
        *sought = static_cast<std::int32_t>(to - base);
    position_ = static_cast<std::size_t>(to);
    return S_OK;
}

HRESULT RowTable::GetRowCount(ULONG, ULONG* count) {
    if (!count)
        return MAPI_E_INVALID_PARAMETER;
    *count = static_cast<ULONG>(view_.size());
    return S_OK;
}

HRESULT RowTable::QueryRows(std::int32_t rowCount, ULONG, SRowSet** rows) {
    if (!rows || rowCount < 0)
        return MAPI_E_INVALID_PARAMETER;
    *rows = nullptr;
    std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(rowCount), view_.size() - position_);
    void* block = nullptr;
    SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(static_cast<ULONG>(n))), &block);
    if (FAILED(sc))
        return sc;
    auto* set = static_cast<SRowSet*>(block);
    std::vector<ULONG> cols = columns_;
    void* tagBlock = nullptr;
    sc = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(static_cast<ULONG>(cols.size()))),
                            &tagBlock);
    if (FAILED(sc)) {
        MAPIFreeBuffer(block);
        return sc;
    }
    auto* tags = static_cast<SPropTagArray*>(tagBlock);
    tags->cValues = static_cast<ULONG>(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i)
        tags->aulPropTag[i] = cols[i];
    for (std::size_t i = 0; i < n; ++i) {
        ULONG count = 0;
        SPropValue* props = nullptr;
        HRESULT hr = view_[position_ + i]->GetProps(tags, &count, &props);
        if (FAILED(hr)) {
            set->cRows = static_cast<ULONG>(i);
            FreeProws(set);
            MAPIFreeBuffer(tagBlock);
            return hr;
        }
        set->aRow[i].cValues = count;
        set->aRow[i].lpProps = props;
    }
    MAPIFreeBuffer(tagBlock);
    set->cRows = static_cast<ULONG>(n);
    position_ += n;
    *rows = set;
    return S_OK;
}

HRESULT DupOne(const SPropValue& value, SPropValue** out) {
    return ScDupPropset(1, &value, nullptr, out);
}

}  // namespace korrin::platform::mapi_detail
