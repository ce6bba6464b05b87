// The messaging layer's types and values: result codes, property types and tags, flags, and the
// plain structures (property values, rows, address lists) that cross between the layer, the
// address book and the library built on them. The numbers are the ones the messaging interface
// this layer stands for has always used, so that code written against it reads the same.
//
// Memory: every structure a call of the layer hands out is one block from MAPIAllocateBuffer
// with its strings and byte arrays on blocks from MAPIAllocateMore linked to it; MAPIFreeBuffer
// on the block frees all of it. Row sets and address lists are the exception the interface
// always had: the set is one block and each row's (entry's) values another, freed together by
// FreeProws (FreePadrlist).
//
// Text: PT_STRING8 values are UTF-8 and NUL-terminated.
//
// The variable-length structures end in a one-element array, as they always have; the CbNew*
// helpers give the size of one with n elements. Index them through their pointer only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korrin::platform {

using ULONG = std::uint32_t;
using BYTE = std::uint8_t;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
// Window handles and other opaque values passed through (the address book's dialogs read it
// as a platform/ui window handle).
using ULONG_PTR = std::uintptr_t;

constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}

// ---- Result codes ---------------------------------------------------------------------------
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT hrSuccess = 0;
constexpr HRESULT MAKE_MAPI_E(std::uint32_t code) {
    return static_cast<HRESULT>(0x80040000u | code);
}
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);

constexpr HRESULT MAPI_E_CALL_FAILED = E_FAIL;
constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = E_OUTOFMEMORY;
constexpr HRESULT MAPI_E_INVALID_PARAMETER = E_INVALIDARG;
constexpr HRESULT MAPI_E_INTERFACE_NOT_SUPPORTED = E_NOINTERFACE;
constexpr HRESULT MAPI_E_NO_ACCESS = E_ACCESSDENIED;

constexpr HRESULT MAPI_E_NO_SUPPORT = MAKE_MAPI_E(0x102);
constexpr HRESULT MAPI_E_BAD_CHARWIDTH = MAKE_MAPI_E(0x103);
constexpr HRESULT MAPI_E_STRING_TOO_LONG = MAKE_MAPI_E(0x105);
constexpr HRESULT MAPI_E_UNKNOWN_FLAGS = MAKE_MAPI_E(0x106);
constexpr HRESULT MAPI_E_INVALID_ENTRYID = MAKE_MAPI_E(0x107);
constexpr HRESULT MAPI_E_INVALID_OBJECT = MAKE_MAPI_E(0x108);
constexpr HRESULT MAPI_E_OBJECT_CHANGED = MAKE_MAPI_E(0x109);
constexpr HRESULT MAPI_E_OBJECT_DELETED = MAKE_MAPI_E(0x10A);
constexpr HRESULT MAPI_E_BUSY = MAKE_MAPI_E(0x10B);
constexpr HRESULT MAPI_E_NOT_ENOUGH_DISK = MAKE_MAPI_E(0x10D);
constexpr HRESULT MAPI_E_NOT_ENOUGH_RESOURCES = MAKE_MAPI_E(0x10E);
constexpr HRESULT MAPI_E_NOT_FOUND = MAKE_MAPI_E(0x10F);
constexpr HRESULT MAPI_E_VERSION = MAKE_MAPI_E(0x110);
constexpr HRESULT MAPI_E_LOGON_FAILED = MAKE_MAPI_E(0x111);
constexpr HRESULT MAPI_E_SESSION_LIMIT = MAKE_MAPI_E(0x112);
constexpr HRESULT MAPI_E_USER_CANCEL = MAKE_MAPI_E(0x113);
constexpr HRESULT MAPI_E_UNABLE_TO_ABORT = MAKE_MAPI_E(0x114);
constexpr HRESULT MAPI_E_NETWORK_ERROR = MAKE_MAPI_E(0x115);
constexpr HRESULT MAPI_E_DISK_ERROR = MAKE_MAPI_E(0x116);
constexpr HRESULT MAPI_E_TOO_COMPLEX = MAKE_MAPI_E(0x117);
constexpr HRESULT MAPI_E_BAD_COLUMN = MAKE_MAPI_E(0x118);
constexpr HRESULT MAPI_E_EXTENDED_ERROR = MAKE_MAPI_E(0x119);
constexpr HRESULT MAPI_E_COMPUTED = MAKE_MAPI_E(0x11A);
constexpr HRESULT MAPI_E_CORRUPT_DATA = MAKE_MAPI_E(0x11B);
constexpr HRESULT MAPI_E_UNCONFIGURED = MAKE_MAPI_E(0x11C);
constexpr HRESULT MAPI_E_END_OF_SESSION = MAKE_MAPI_E(0x200);
constexpr HRESULT MAPI_E_UNKNOWN_ENTRYID = MAKE_MAPI_E(0x201);
constexpr HRESULT MAPI_E_INVALID_TYPE = MAKE_MAPI_E(0x302);
constexpr HRESULT MAPI_E_TYPE_NO_SUPPORT = MAKE_MAPI_E(0x303);
constexpr HRESULT MAPI_E_UNEXPECTED_TYPE = MAKE_MAPI_E(0x304);
constexpr HRESULT MAPI_E_TOO_BIG = MAKE_MAPI_E(0x305);
constexpr HRESULT MAPI_E_CORRUPT_STORE = MAKE_MAPI_E(0x600);
constexpr HRESULT MAPI_E_NOT_IN_QUEUE = MAKE_MAPI_E(0x601);
constexpr HRESULT MAPI_E_COLLISION = MAKE_MAPI_E(0x604);
constexpr HRESULT MAPI_E_NOT_INITIALIZED = MAKE_MAPI_E(0x605);
constexpr HRESULT MAPI_E_NO_RECIPIENTS = MAKE_MAPI_E(0x607);
constexpr HRESULT MAPI_E_SUBMITTED = MAKE_MAPI_E(0x608);
constexpr HRESULT MAPI_E_AMBIGUOUS_RECIP = MAKE_MAPI_E(0x700);
// A warning, not a failure: some of the values asked for are PT_ERROR values.
constexpr HRESULT MAPI_W_ERRORS_RETURNED = static_cast<HRESULT>(0x00040380u);

// ---- Property types and tags ----------------------------------------------------------------
constexpr ULONG PT_UNSPECIFIED = 0x0000;
constexpr ULONG PT_NULL = 0x0001;
constexpr ULONG PT_I2 = 0x0002;
constexpr ULONG PT_LONG = 0x0003;
constexpr ULONG PT_R4 = 0x0004;
constexpr ULONG PT_DOUBLE = 0x0005;
constexpr ULONG PT_ERROR = 0x000A;
constexpr ULONG PT_BOOLEAN = 0x000B;
constexpr ULONG PT_OBJECT = 0x000D;
constexpr ULONG PT_I8 = 0x0014;
constexpr ULONG PT_STRING8 = 0x001E;
constexpr ULONG PT_UNICODE = 0x001F;  // not supported by this layer: PT_STRING8 is UTF-8
constexpr ULONG PT_SYSTIME = 0x0040;
constexpr ULONG PT_BINARY = 0x0102;

constexpr ULONG PROP_TAG(ULONG type, ULONG id) {
    return (id << 16) | type;
}
constexpr ULONG PROP_TYPE(ULONG tag) {
    return tag & 0xFFFF;
}
constexpr ULONG PROP_ID(ULONG tag) {
    return tag >> 16;
}
constexpr ULONG CHANGE_PROP_TYPE(ULONG tag, ULONG type) {
    return (tag & 0xFFFF0000u) | type;
}

constexpr ULONG PR_NULL = PROP_TAG(PT_NULL, 0x0000);
constexpr ULONG PR_MESSAGE_CLASS = PROP_TAG(PT_STRING8, 0x001A);
constexpr ULONG PR_SUBJECT = PROP_TAG(PT_STRING8, 0x0037);
constexpr ULONG PR_CLIENT_SUBMIT_TIME = PROP_TAG(PT_SYSTIME, 0x0039);
constexpr ULONG PR_RECIPIENT_TYPE = PROP_TAG(PT_LONG, 0x0C15);
constexpr ULONG PR_SENDER_NAME = PROP_TAG(PT_STRING8, 0x0C1A);
constexpr ULONG PR_SENDER_EMAIL_ADDRESS = PROP_TAG(PT_STRING8, 0x0C1F);
constexpr ULONG PR_DISPLAY_BCC = PROP_TAG(PT_STRING8, 0x0E02);
constexpr ULONG PR_DISPLAY_CC = PROP_TAG(PT_STRING8, 0x0E03);
constexpr ULONG PR_DISPLAY_TO = PROP_TAG(PT_STRING8, 0x0E04);
constexpr ULONG PR_MESSAGE_DELIVERY_TIME = PROP_TAG(PT_SYSTIME, 0x0E06);
constexpr ULONG PR_MESSAGE_FLAGS = PROP_TAG(PT_LONG, 0x0E07);
constexpr ULONG PR_MESSAGE_SIZE = PROP_TAG(PT_LONG, 0x0E08);
constexpr ULONG PR_SENTMAIL_ENTRYID = PROP_TAG(PT_BINARY, 0x0E0A);
constexpr ULONG PR_HASATTACH = PROP_TAG(PT_BOOLEAN, 0x0E1B);
constexpr ULONG PR_ATTACH_NUM = PROP_TAG(PT_LONG, 0x0E21);
constexpr ULONG PR_INSTANCE_KEY = PROP_TAG(PT_BINARY, 0x0FF6);
constexpr ULONG PR_RECORD_KEY = PROP_TAG(PT_BINARY, 0x0FF9);
constexpr ULONG PR_STORE_ENTRYID = PROP_TAG(PT_BINARY, 0x0FFB);
constexpr ULONG PR_OBJECT_TYPE = PROP_TAG(PT_LONG, 0x0FFE);
constexpr ULONG PR_ENTRYID = PROP_TAG(PT_BINARY, 0x0FFF);
constexpr ULONG PR_BODY = PROP_TAG(PT_STRING8, 0x1000);
constexpr ULONG PR_ROWID = PROP_TAG(PT_LONG, 0x3000);
constexpr ULONG PR_DISPLAY_NAME = PROP_TAG(PT_STRING8, 0x3001);
constexpr ULONG PR_ADDRTYPE = PROP_TAG(PT_STRING8, 0x3002);
constexpr ULONG PR_EMAIL_ADDRESS = PROP_TAG(PT_STRING8, 0x3003);
constexpr ULONG PR_SEARCH_KEY = PROP_TAG(PT_BINARY, 0x300B);
constexpr ULONG PR_DEFAULT_STORE = PROP_TAG(PT_BOOLEAN, 0x3400);
constexpr ULONG PR_IPM_OUTBOX_ENTRYID = PROP_TAG(PT_BINARY, 0x35E2);
constexpr ULONG PR_IPM_WASTEBASKET_ENTRYID = PROP_TAG(PT_BINARY, 0x35E3);
constexpr ULONG PR_IPM_SENTMAIL_ENTRYID = PROP_TAG(PT_BINARY, 0x35E4);
constexpr ULONG PR_ATTACH_DATA_BIN = PROP_TAG(PT_BINARY, 0x3701);
constexpr ULONG PR_ATTACH_DATA_OBJ = PROP_TAG(PT_OBJECT, 0x3701);
constexpr ULONG PR_ATTACH_FILENAME = PROP_TAG(PT_STRING8, 0x3704);
constexpr ULONG PR_ATTACH_METHOD = PROP_TAG(PT_LONG, 0x3705);
constexpr ULONG PR_ATTACH_LONG_FILENAME = PROP_TAG(PT_STRING8, 0x3707);
constexpr ULONG PR_ATTACH_PATHNAME = PROP_TAG(PT_STRING8, 0x3708);
constexpr ULONG PR_RENDERING_POSITION = PROP_TAG(PT_LONG, 0x370B);
constexpr ULONG PR_ATTACH_MIME_TAG = PROP_TAG(PT_STRING8, 0x370E);
constexpr ULONG PR_GIVEN_NAME = PROP_TAG(PT_STRING8, 0x3A06);
constexpr ULONG PR_SURNAME = PROP_TAG(PT_STRING8, 0x3A11);
constexpr ULONG PR_NICKNAME = PROP_TAG(PT_STRING8, 0x3A4F);
constexpr ULONG PR_DEFAULT_PROFILE = PROP_TAG(PT_BOOLEAN, 0x3D04);
constexpr ULONG PR_PROFILE_NAME = PROP_TAG(PT_STRING8, 0x3D12);

// ---- Flags ----------------------------------------------------------------------------------
// MAPILogonEx
constexpr ULONG MAPI_LOGON_UI = 0x00000001;
constexpr ULONG MAPI_NEW_SESSION = 0x00000002;
constexpr ULONG MAPI_EXPLICIT_PROFILE = 0x00000010;
constexpr ULONG MAPI_EXTENDED = 0x00000020;
constexpr ULONG MAPI_USE_DEFAULT = 0x00000040;
constexpr ULONG MAPI_NO_MAIL = 0x00008000;
constexpr ULONG MAPI_UNICODE = 0x80000000;  // refused: MAPI_E_BAD_CHARWIDTH
// IMAPISession::Logoff
constexpr ULONG MAPI_LOGOFF_SHARED = 0x00000001;
constexpr ULONG MAPI_LOGOFF_UI = 0x00000002;
// OpenMsgStore
constexpr ULONG MDB_NO_DIALOG = 0x00000001;
constexpr ULONG MDB_WRITE = 0x00000004;
// OpenEntry, OpenProperty, CreateMessage
constexpr ULONG MAPI_MODIFY = 0x00000001;
constexpr ULONG MAPI_CREATE = 0x00000002;
constexpr ULONG MAPI_DEFERRED_ERRORS = 0x00000008;
constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
// SaveChanges
constexpr ULONG KEEP_OPEN_READONLY = 0x00000001;
constexpr ULONG KEEP_OPEN_READWRITE = 0x00000002;
constexpr ULONG FORCE_SAVE = 0x00000004;
// PR_MESSAGE_FLAGS
constexpr ULONG MSGFLAG_READ = 0x00000001;
constexpr ULONG MSGFLAG_UNMODIFIED = 0x00000002;
constexpr ULONG MSGFLAG_SUBMIT = 0x00000004;
constexpr ULONG MSGFLAG_UNSENT = 0x00000008;
constexpr ULONG MSGFLAG_HASATTACH = 0x00000010;
constexpr ULONG MSGFLAG_FROMME = 0x00000020;
// PR_RECIPIENT_TYPE
constexpr ULONG MAPI_ORIG = 0;
constexpr ULONG MAPI_TO = 1;
constexpr ULONG MAPI_CC = 2;
constexpr ULONG MAPI_BCC = 3;
// PR_ATTACH_METHOD
constexpr ULONG NO_ATTACHMENT = 0;
constexpr ULONG ATTACH_BY_VALUE = 1;
// ModifyRecipients (0: replace the whole list)
constexpr ULONG MODRECIP_ADD = 0x00000002;
constexpr ULONG MODRECIP_MODIFY = 0x00000004;
constexpr ULONG MODRECIP_REMOVE = 0x00000008;
// DeleteMessages
constexpr ULONG MESSAGE_DIALOG = 0x00000002;
// Storage modes (OpenStreamOnFile)
constexpr ULONG STGM_READ = 0x00000000;
constexpr ULONG STGM_WRITE = 0x00000001;
constexpr ULONG STGM_READWRITE = 0x00000002;
constexpr ULONG STGM_CREATE = 0x00001000;
// IStream::Stat
constexpr ULONG STATFLAG_DEFAULT = 0;
constexpr ULONG STATFLAG_NONAME = 1;
// IStream::Seek origins
constexpr ULONG STREAM_SEEK_SET = 0;
constexpr ULONG STREAM_SEEK_CUR = 1;
constexpr ULONG STREAM_SEEK_END = 2;
// ADRPARM.ulFlags
constexpr ULONG DIALOG_MODAL = 0x00000001;
constexpr ULONG DIALOG_SDI = 0x00000002;
constexpr ULONG DIALOG_OPTIONS = 0x00000004;
constexpr ULONG ADDRESS_ONE = 0x00000008;
constexpr ULONG AB_SELECTONLY = 0x00000010;
constexpr ULONG AB_RESOLVE = 0x00000020;
// Object types (OpenEntry's *objType, PR_OBJECT_TYPE)
constexpr ULONG MAPI_STORE = 0x1;
constexpr ULONG MAPI_ADDRBOOK = 0x2;
constexpr ULONG MAPI_FOLDER = 0x3;
constexpr ULONG MAPI_ABCONT = 0x4;
constexpr ULONG MAPI_MESSAGE = 0x5;
constexpr ULONG MAPI_MAILUSER = 0x6;
constexpr ULONG MAPI_ATTACH = 0x7;
constexpr ULONG MAPI_DISTLIST = 0x8;
constexpr ULONG MAPI_PROFSECT = 0x9;
constexpr ULONG MAPI_STATUS = 0xA;
constexpr ULONG MAPI_SESSION = 0xB;
// Restrictions
constexpr ULONG RES_AND = 0;
constexpr ULONG RES_OR = 1;
constexpr ULONG RES_NOT = 2;
constexpr ULONG RES_PROPERTY = 4;
constexpr ULONG RES_EXIST = 8;
constexpr ULONG RELOP_LT = 0;
constexpr ULONG RELOP_LE = 1;
constexpr ULONG RELOP_GT = 2;
constexpr ULONG RELOP_GE = 3;
constexpr ULONG RELOP_EQ = 4;
constexpr ULONG RELOP_NE = 5;
// Table seeks
constexpr ULONG BOOKMARK_BEGINNING = 0;
constexpr ULONG BOOKMARK_CURRENT = 1;
constexpr ULONG BOOKMARK_END = 2;

// ---- Structures -----------------------------------------------------------------------------
struct SBinary {
    ULONG cb;
    BYTE* lpb;
};
struct FILETIME {
    std::uint32_t dwLowDateTime;
    std::uint32_t dwHighDateTime;
};

union PV {
    std::int16_t i;
    std::int32_t l;
    ULONG ul;
    float flt;
    double dbl;
    std::uint16_t b;  // PT_BOOLEAN: nonzero is TRUE
    std::int64_t li;
    char* lpszA;  // PT_STRING8, UTF-8
    SBinary bin;
    FILETIME ft;
    SCODE err;  // PT_ERROR
    std::int32_t x;
};

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    PV Value;
};

struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[1];
};
constexpr std::size_t CbNewSPropTagArray(ULONG n) {
    return offsetof(SPropTagArray, aulPropTag) + (n ? n : 1) * sizeof(ULONG);
}
// A tag array of a fixed size on the stack: SizedSPropTagArray<2> cols{2, {PR_ENTRYID, ...}};
// pass it as reinterpret_cast<SPropTagArray*>(&cols) or through AsTagArray.
template <ULONG N>
struct SizedSPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[N];
};
template <ULONG N>
SPropTagArray* AsTagArray(SizedSPropTagArray<N>& a) {
    return reinterpret_cast<SPropTagArray*>(&a);
}

struct SPropProblem {
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};
struct SPropProblemArray {
    ULONG cProblem;
    SPropProblem aProblem[1];
};

struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    SPropValue* lpProps;  // its own MAPIAllocateBuffer block
};
struct SRowSet {
    ULONG cRows;
    SRow aRow[1];
};
constexpr std::size_t CbNewSRowSet(ULONG n) {
    return offsetof(SRowSet, aRow) + (n ? n : 1) * sizeof(SRow);
}

// An address list entry has the layout of a row.
struct ADRENTRY {
    ULONG ulReserved1;
    ULONG cValues;
    SPropValue* rgPropVals;  // its own MAPIAllocateBuffer block
};
struct ADRLIST {
    ULONG cEntries;
    ADRENTRY aEntries[1];
};
constexpr std::size_t CbNewADRLIST(ULONG n) {
    return offsetof(ADRLIST, aEntries) + (n ? n : 1) * sizeof(ADRENTRY);
}

// An entry ID: four flag bytes and then the provider's bytes. Ours are opaque; a caller only
// copies and compares them. A damaged or foreign one fails with MAPI_E_INVALID_ENTRYID (or
// MAPI_E_NOT_FOUND when it is ours but names nothing that exists any more).
struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[1];
};
struct ENTRYLIST {
    ULONG cValues;
    SBinary* lpbin;
};

struct SPropertyRestriction {
    ULONG relop;
    ULONG ulPropTag;
    SPropValue* lpProp;
};
struct SRestriction;
struct SAndRestriction {
    ULONG cRes;
    SRestriction* lpRes;
};
struct SExistRestriction {
    ULONG ulReserved1;
    ULONG ulPropTag;
    ULONG ulReserved2;
};
// Only RES_PROPERTY (with RELOP_EQ / RELOP_NE), RES_EXIST, RES_AND, RES_OR and RES_NOT are
// understood; others fail with MAPI_E_TOO_COMPLEX.
struct SRestriction {
    ULONG rt;
    union {
        SPropertyRestriction resProperty;
        SAndRestriction resAnd;  // also RES_OR
        struct {
            ULONG ulReserved;
            SRestriction* lpRes;
        } resNot;
        SExistRestriction resExist;
    } res;
};
struct SSortOrderSet;  // sorting is not offered: pass null

struct STATSTG {
    char* pwcsName;  // null with STATFLAG_NONAME, else MAPIAllocateBuffer'd
    ULONG type;
    std::uint64_t cbSize;
};

// The address dialog's parameters. Only the fields the program fills are read.
struct ADRPARM {
    ULONG cbABContEntryID;
    ENTRYID* lpABContEntryID;
    ULONG ulFlags;  // DIALOG_MODAL, ADDRESS_ONE, AB_RESOLVE, ...
    void* lpReserved;
    ULONG ulHelpContext;
    char* lpszHelpFileName;
    void* lpfnABSDI;
    void* lpfnDismiss;
    void* lpvDismissContext;
    char* lpszCaption;
    char* lpszNewEntryTitle;
    char* lpszDestWellsTitle;
    ULONG cDestFields;  // 0: no wells (ADDRESS_ONE); else To, Cc, Bcc in that order
    ULONG nDestFieldFocus;
    char** lppszDestTitles;  // null: "To", "Cc", "Bcc"
    ULONG* lpulDestComps;    // null: MAPI_TO, MAPI_CC, MAPI_BCC
    SRestriction* lpContRestriction;
    SRestriction* lpHierRestriction;
};

// Interface identifiers: compared by address. Pass null for "the object's own interface".
struct IID {
    const char* name;
};
extern const IID IID_IMAPITable;
extern const IID IID_IMsgStore;
extern const IID IID_IMAPIFolder;
extern const IID IID_IMessage;
extern const IID IID_IAttachment;
extern const IID IID_IStream;
extern const IID IID_IMailUser;
extern const IID IID_IAddrBook;

}  // namespace korrin::platform
