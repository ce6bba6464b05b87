// An install folder with its registry, the SMTP settings pointing at a real aiosmtpd on
// 127.0.0.1, and message files made to order, for the sender and the transmission session.
#pragma once

#include <QCoreApplication>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "helpers/SmtpServer.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/MailDialogs.h"
#include "korrin/store/Folders.h"
#include "korrin/store/Trailer.h"
#include "korrin/transmit/Transmit.h"
#include "unit/store/StoreFixture.h"

namespace korrin::test {

// Counts the windows the mail core asks for.
class RecordingMailDialogs : public IMailDialogs {
  public:
    void ShowSmtpPreferences(void*) override { ++smtp; }
    void ShowDialUpConnections(void*) override { ++dialUp; }
    int smtp = 0;
    int dialUp = 0;
};

class MailStoreTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(access(kSystemPython, X_OK), 0) << "python3 is needed (scripts/install-deps.sh)";
        WriteFile(dir_.file("mime.types"), "");
        ::mkdir(dir_.file("mail").c_str(), 0700);
        InstallMailDialogs(&dialogs_);
    }
    void TearDown() override { InstallMailDialogs(nullptr); }

    // Every message file of the folders, with those the server took that wait in the Outbox
    // for their move to Sent Items.
    static std::vector<std::string> messageFiles(std::initializer_list<int> folders) {
        std::vector<std::string> all, kx0, kx1;
        for (int folder : folders) {
            FindMessageFiles(folder, &kx0, &kx1);
            all.insert(all.end(), kx0.begin(), kx0.end());
            all.insert(all.end(), kx1.begin(), kx1.end());
        }
        std::vector<std::string> accepted;
        FindAcceptedMessages(&accepted);
        all.insert(all.end(), accepted.begin(), accepted.end());
        return all;
    }

    // OUTBOX and SENT, with the next File ID at 100 (so the first one sent is KX101S).
    void makeSendingFolders() {
        makeFolder("OUTBOX");
        makeFolder("SENT");
        ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kFileId, 100), 1);
    }
    void setString(const char* name, const std::string& value) {
        ASSERT_EQ(CUtils().SetRegistryString(kKorrinKey, name, value), 1);
    }
    void setSettings(int port) {
        setString(setting::kName, "Jo Sender");
        setString(setting::kOrganization, "");
        setString(setting::kSmtpHost, "127.0.0.1:" + std::to_string(port));
        setString(setting::kEmailAddress, "jo@here.test");
        setString(setting::kAccount, "jo");
        setString(setting::kPassword, "secret");
    }
    void startServer() {
        server_ = std::make_unique<SmtpServer>(dir_.file("mail"));
        ASSERT_GT(server_->port(), 0);
        setSettings(server_->port());
    }

    // A message file with payload bytes and a full envelope.
    static void makeEnvelope(const std::string& path, const std::string& payload,
                             const std::string& to, const std::string& cc,
                             const std::string& subject, const std::string& note,
                             SYSTEMTIME utc = {}) {
        WriteFile(path, payload);
        CMessageTrailer t;
        t.subject = subject;
        t.SetNoteFromEdit(note);
        ASSERT_EQ(t.WriteNew(path, "Jo Sender", "jo@here.test", to, to, cc, cc), 0);
        if (utc.wYear != 0) {
            CMessageTrailer r;
            ASSERT_EQ(r.ReadForSending(path, true, false), 0);
            r.date = utc;
            ASSERT_EQ(r.ReplaceTrailer(path), 0);
        }
    }
    static std::string payload(std::size_t size, unsigned seed, const char* head = "RIFF") {
        std::string p = head;
        unsigned x = seed * 2654435761u + 1;
        while (p.size() < size) {
            x = x * 1103515245u + 12345u;
            // Now and then a line that is a single dot, to be stuffed on the wire.
            p += (x >> 8) % 97 == 0 ? std::string("\r\n.\r\n") : std::string(1, char(x >> 16));
        }
        p.resize(size);
        return p;
    }
    std::string mailFile(int n, const char* ext) const {
        return dir_.file("mail/mail" + std::to_string(n) + ext);
    }
    int receivedCount() const {
        int n = 0;
        while (access(mailFile(n + 1, ".json").c_str(), F_OK) == 0)
            ++n;
        return n;
    }
    std::vector<std::string> messageBoxTexts() const {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(logPath()))
            if (JsonField(line, "kind") == "messagebox")
                out.push_back(JsonField(line, "text"));
        return out;
    }

    ScopedEnv tmp_{"TMPDIR", dir_.path()};
    ScopedEnv mime_{"KORRIN_MIME_TYPES", dir_.file("mime.types")};
    RecordingMailDialogs dialogs_;
    std::unique_ptr<SmtpServer> server_;
};

}  // namespace korrin::test
