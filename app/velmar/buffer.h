// CBuffer: a whole file read from disk or a stream being built to a known size; the base of
// every downloadable file kind. CMBuffer: a stream buffer that grows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

class CListCtrl;
class CPtrList;

// The program folder (working folder at start) and the data folder; fixed at start-up.
extern char ProgramFolder[MAX_PATH];
extern char DataFolder[MAX_PATH];

class CBuffer {
  public:
    explicit CBuffer(DWORD length);
    explicit CBuffer(const char *path);
    virtual ~CBuffer();
    CBuffer(const CBuffer &) = delete;
    CBuffer &operator=(const CBuffer &) = delete;

    virtual DWORD GetLength();
    // Fills the project window's property list; returns the rows used.
    virtual int ShowProperties(CListCtrl &list);
    // Adds this file's download stream at the head of the job list; returns its length.
    virtual DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder,
                                const char *name, const char *id);
    virtual int AppendString(const char *text);
    // Copies n bytes at the cursor; 0 (nothing copied) when fewer than n bytes remain.
    virtual int Append(const void *bytes, DWORD n);

    int WriteToFile(const char *path);
    void AddPropertyRow(CListCtrl &list, int row, UINT stringId);
    static int MapFontType(int pclType);

    bool IsEmpty() const { return m_data == nullptr || m_length == 0; }

    DWORD m_length = 0;       // bytes the buffer was made for (CMBuffer: its capacity)
    char *m_data = nullptr;   // m_length + 1 bytes, NUL at m_length; null when empty
    char *m_cursor = nullptr; // write position of the append operations
    char m_fileName[MAX_PATH] = {};

  protected:
    std::vector<char> m_block;
};

class CMBuffer : public CBuffer {
  public:
    CMBuffer();
    DWORD GetLength() override;
    int Append(const void *bytes, DWORD n) override;
    // Appends the whole file of that name in the program folder; true when anything was.
    bool AppendProgramFile(const char *name);
};

// Typeface name and family code from the typeface module (string 1000 + number).
int LoadTypefaceName(HMODULE module, int typeface, char *text, int size);
// 1 when written, else 0. An existing file is truncated.
int WriteWholeFile(const char *path, const void *bytes, DWORD count);
// 1 when written, else 0 with the last-error code set. The bytes go to a new file beside the
// target, which then replaces it: a failure leaves the old file as it was.
int ReplaceWholeFile(const char *path, const void *bytes, DWORD count);
// The file's bytes followed by one uncounted NUL; empty (count 0) when it cannot be read.
std::vector<char> ReadWholeFile(const char *path, DWORD *count);
