// The working half of the library: the session's address list from typed recipient texts, the
// address dialog, the recipient lists handed back to the program, sending a message file
// through the session's Outbox, and the library's own test dialog (132).
//
// Threads: the program's user-interface thread only.
#pragma once

#include <string>

#include "tolvlink/Session.h"

class QListWidget;

namespace korrin::tolvlink {

// FixMapiAdrList: splits the three texts (cut in place) into the session's address list, To,
// Cc and Bcc, and has the address book resolve it. No piece at all: the session has no list.
void FixAddressList(CMapiSession& session, char* to, char* cc, char* bcc);

// GetMapiAddress: the address dialog on the session's list; on success the three edit controls
// of window get the display names of each recipient type, joined with "; " and never cut.
HRESULT ShowAddressDialog(CMapiSession& session, QWidget* window, int idTo, int idCc, int idBcc);

// ProcessMapiAdrList: six new[] strings (names lists cut to fit 4095 bytes, address lists
// whole); without a list, or an empty one, the outputs are left as they were.
void HandOutLists(CMapiSession& session, char** lists[6]);

// SendMapiTolvMessage: 0 only when the message, with path attached, is in the Outbox. A
// failure is reported ("<call> failed", source module `source`) and its MAPI result returned;
// nothing is left behind in the receive folder on any path.
HRESULT SendFile(CMapiSession& session, const std::string& subject, const std::string& body,
                 const std::string& path, const char* source);

// The library's test dialog: its own session, To/Cc/Bcc through the address dialog, a file to
// attach, and Send with a fixed subject and body.
class CSendDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 132;
    static constexpr int kToId = 1001, kCcId = 1004, kBccId = 1002, kToButtonId = 1017,
                         kCcButtonId = 1020, kBccButtonId = 1021, kAttachListId = 1027,
                         kBrowseId = 1003, kSubjectId = 1018, kBodyId = 1019;

    CSendDlg(const std::string& key, QWidget* parent = nullptr);
    ~CSendDlg() override;
    void OnCommand(int id) override;
    CMapiSession& session() { return session_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    std::string key_;
    CMapiSession session_;
    bool started_ = false;
};

}  // namespace korrin::tolvlink
