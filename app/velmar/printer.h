// CAPrinter: one printer and the only way the application talks to it. Each command is
// one job on the port opened at construction: StartSession (echo round trip), the
// command, the reply, EndJob.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <vector>

#include "corvane.h"

class CAPrinter {
public:
    explicit CAPrinter(const DiscoveredPrinter &printer);
    virtual ~CAPrinter();
    CAPrinter(const CAPrinter &) = delete;
    CAPrinter &operator=(const CAPrinter &) = delete;

    // Port (results as QuvOpenPort's; nonzero for success).
    BOOL OpenPort(DWORD timeoutMs);
    void SetTimeout(DWORD ms);
    void ClosePort();

    // Session primitives: nonzero for success, the reason in the last-error code.
    BOOL StartSession();
    BOOL WriteData(const void *data, DWORD length, DWORD *written);
    BOOL WriteString(const char *text, DWORD *written);
    BOOL ReadReply(char *buffer, DWORD capacity, DWORD *received);
    BOOL ReadChunk(char *buffer, DWORD capacity, DWORD *received);
    bool IsReplyIncomplete(const char *buffer) const;
    void RemoveUStatus(char *buffer);
    void EndJob(BOOL ok);

    // A whole command or download stream: echo round trip, the stream, UEL, end of job.
    BOOL SendStream(const void *data, DWORD length);
    // False (after "ENTER LANGUAGE=POSTSCRIPT !!") for a PostScript stream on a printer
    // without PostScript.
    BOOL CheckStreamLanguage(const void *data, DWORD length);

    // Inside an open session: the position of "@PJL INFO CONFIG" in m_reply, or null.
    const char *QueryConfig();
    void EnsureLanguages();
    BOOL SupportsPCL() const { return m_languages == 0 || (m_languages & 0x01); }
    BOOL SupportsPostScript() const { return m_languages == 0 || (m_languages & 0x02); }
    void ReportMissingLanguage(BYTE bit);
    // The attribute query in its own session: 0 on success.
    int QueryAttributes();

    // Helpers on m_reply, bounded by m_received.
    void GetReplyValue(const char *text, const char *key, char *value) const;
    const char *FindLineEnd(const char *pos) const;
    const char *SkipToNextLine(const char *pos) const;
    const char *SkipBlanks(const char *pos) const;

    static constexpr DWORD kReplySize = 20800;
    static constexpr DWORD kChunk = 0x20000;

    std::int32_t m_attrState = 0;     // 0 not queried, 1 no attributes, 2 read
    char m_attr[10][260] = {};        // SPOOLJOBTYPE, NUMPRINT, ... REBOOT
    char m_terminator = '\f';         // FF, or EOT while a PostScript query runs
    BYTE m_languages = 0;             // language flags; 0 = not known yet
    HTREEITEM m_flashSimmItem = nullptr;
    QUVPORT m_hPort = nullptr;
    DWORD m_replySize = kReplySize;
    char *m_reply = nullptr;          // kReplySize bytes, owned
    DWORD m_received = 0;
    DWORD m_written = 0;
    char *m_name = nullptr;           // into m_names
    char *m_port = nullptr;
    char *m_displayName = nullptr;
    char *m_displayAddress = nullptr;

private:
    BOOL AskRetry();
    std::vector<char> m_names;        // name NUL port NUL
    std::vector<char> m_replyBlock;
};

// Attribute keys, in the order of m_attr.
extern const char *const kAttributeKeys[10];
enum AttributeSlot {
    kAttrSpoolJobType, kAttrNumPrint, kAttrDemoPage, kAttrHddAssign, kAttrFlashAssign,
    kAttrPathLength, kAttrPasswordRange, kAttrPsMenu, kAttrInitialize, kAttrReboot
};
