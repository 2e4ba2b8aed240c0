#include "buffer.h"

#include <cstring>
#include <string>

#include "framework.h"
#include "resource_ids.h"

#include "helpers.h"
#include "reply.h"
#include "stream.h"
#include "text.h"
#include "win_owners.h"

char ProgramFolder[MAX_PATH] = ".";
char DataFolder[MAX_PATH] = ".";

namespace {

// Creates the file new; when it exists, opens it again truncating it.
HANDLE CreateForWriting(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, TRUNCATE_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return file;
}

int WriteAll(const char *path, const void *bytes, DWORD count) {
    HANDLE file = CreateForWriting(path);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes, count, &written, nullptr);
    const BOOL closed = CloseHandle(file);
    return ok && closed && written == count ? 1 : 0;
}

enum class ReadResult { CannotOpen, Failed, Read };

// The file into `block`, one byte longer than the file, with a NUL after the bytes read;
// `read` gets the count ReadFile gave, which may fall short of the size.
ReadResult ReadBlock(const char *path, std::vector<char> &block, DWORD &read) {
    win::Handle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return ReadResult::CannotOpen;
    DWORD high = 0;
    const DWORD size = GetFileSize(file.get(), &high);
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 ||
        size == 0xFFFFFFFFu)
        return ReadResult::Failed;
    block.assign(static_cast<std::size_t>(size) + 1, 0);
    read = 0;
    const BOOL ok = size == 0 || ReadFile(file.get(), block.data(), size, &read, nullptr);
    file.reset();
    if (!ok)
        return ReadResult::Failed;
    block[read] = '\0';
    return ReadResult::Read;
}

void ShowCannotOpen(const char *path) {
    char text[260];
    LoadResString(IDS_CANNOT_OPEN_FILE, text);
    std::string message = std::string(text) + path;
    AfxMessageBox(message.c_str(), MB_OK | MB_SETFOREGROUND);
}

} // namespace

CBuffer::CBuffer(DWORD length) {
    if (length == 0)
        return;
    m_block.assign(static_cast<std::size_t>(length) + 1, 0);
    m_length = length;
    m_data = m_cursor = m_block.data();
}

CBuffer::CBuffer(const char *path) {
    const std::size_t pathLength = path ? std::strlen(path) : 0;
    if (!path || pathLength > kMaxPathText) {
        ShowCannotOpen(path ? path : "");
        return; // a path that does not fit leaves the buffer empty
    }
    CopyStringN(m_fileName, path, kMaxPathText);
    std::vector<char> block;
    DWORD read = 0;
    const ReadResult result = ReadBlock(path, block, read);
    if (result == ReadResult::CannotOpen)
        ShowCannotOpen(path);
    if (result != ReadResult::Read)
        return;
    if (read == 0)
        return;
    m_block = std::move(block);
    m_length = read;
    m_data = m_block.data();
    m_cursor = m_data + m_length;
}

CBuffer::~CBuffer() = default;

DWORD CBuffer::GetLength() {
    return m_length;
}

int CBuffer::AppendString(const char *text) {
    return Append(text, static_cast<DWORD>(std::strlen(text))); // virtual: CMBuffer grows
}

int CBuffer::Append(const void *bytes, DWORD n) {
    if (n == 0)
        return 1;
    if (!m_data || static_cast<DWORD>(m_data + m_length - m_cursor) < n)
        return 0;
    std::memcpy(m_cursor, bytes, n);
    m_cursor += n;
    return 1;
}

int CBuffer::WriteToFile(const char *path) {
    CopyStringN(m_fileName, path, kMaxPathText);
    const DWORD count = m_data ? static_cast<DWORD>(m_cursor - m_data) : 0;
    return WriteAll(path, m_data ? m_data : "", count);
}

void CBuffer::AddPropertyRow(CListCtrl &list, int row, UINT stringId) {
    char text[260];
    list.InsertItem(row, LoadResString(stringId, text));
}

int CBuffer::MapFontType(int pclType) {
    return ::MapFontType(pclType);
}

DWORD CBuffer::BuildDownload(CPtrList &jobs, const char *volume, const char *folder,
                             const char *name, const char *) {
    const std::string header = BuildDownloadHeader(volume, folder, name, m_length);
    const std::uint64_t total = header.size() + static_cast<std::uint64_t>(m_length) + kUelLength;
    if (total > 0xFFFFFFF0u)
        return 0;
    auto *stream = new CBuffer(static_cast<DWORD>(total));
    stream->Append(header.data(), static_cast<DWORD>(header.size()));
    stream->Append(m_data, m_length);
    stream->Append(kUel, static_cast<DWORD>(kUelLength));
    jobs.AddHead(stream);
    return stream->m_length;
}

int CBuffer::ShowProperties(CListCtrl &list) {
    AddPropertyRow(list, 0, IDS_PROP_FILE_TYPE);
    AddPropertyRow(list, 1, IDS_PROP_FULL_PATH);
    list.SetItemText(1, 1, m_fileName);
    HANDLE file = CreateFileA(m_fileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!ok)
        return 2;
    AddPropertyRow(list, 2, IDS_PROP_FILE_SIZE);
    list.SetItemText(2, 1, std::to_string(static_cast<int>(info.nFileSizeLow)).c_str());
    AddPropertyRow(list, 3, IDS_PROP_CREATION_DATE);
    FILETIME local;
    SYSTEMTIME when;
    char date[64] = {}, time[64] = {};
    if (FileTimeToLocalFileTime(&info.ftCreationTime, &local) &&
        FileTimeToSystemTime(&local, &when)) {
        GetDateFormatA(LOCALE_USER_DEFAULT, 0, &when, nullptr, date, sizeof date);
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &when, nullptr, time, sizeof time);
    }
    list.SetItemText(3, 1, (std::string(date) + " " + time).c_str());
    return 4;
}

CMBuffer::CMBuffer() : CBuffer(260) {}

DWORD CMBuffer::GetLength() {
    return m_data ? static_cast<DWORD>(m_cursor - m_data) : 0;
}

int CMBuffer::Append(const void *bytes, DWORD n) {
    const DWORD written = GetLength();
    const auto capacity = GrowCapacity(m_length, written, n);
    if (!capacity)
        return 0; // past 32 bits: nothing appended
    if (*capacity != m_length) {
        std::vector<char> block(static_cast<std::size_t>(*capacity) + 1, 0);
        if (written)
            std::memcpy(block.data(), m_data, written);
        m_block = std::move(block);
        m_length = *capacity;
        m_data = m_block.data();
        m_cursor = m_data + written;
    }
    return CBuffer::Append(bytes, n);
}

bool CMBuffer::AppendProgramFile(const char *name) {
    const std::string path = std::string(ProgramFolder) + "\\" + name;
    CBuffer file(path.c_str());
    if (file.IsEmpty())
        return false;
    return Append(file.m_data, file.m_length) != 0;
}

int LoadTypefaceName(HMODULE module, int typeface, char *text, int size) {
    if (size <= 0)
        return 0;
    text[0] = '\0';
    if (LoadStringA(module, 1000 + (typeface & 0xFFF), text, size) <= 0) {
        text[0] = '\0';
        return 0;
    }
    const int family = TypefaceFamilyCode(text[0]);
    const std::string name = TypefaceNameOf(text);
    CopyStringN(text, name.c_str(), static_cast<std::size_t>(size - 1));
    return family;
}

int WriteWholeFile(const char *path, const void *bytes, DWORD count) {
    return WriteAll(path, bytes, count);
}

int ReplaceWholeFile(const char *path, const void *bytes, DWORD count) {
    const std::string target = path;
    const std::size_t slash = target.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    char temp[MAX_PATH] = {};
    if (!GetTempFileNameA(folder.c_str(), "zqc", 0, temp))
        return 0;
    HANDLE file =
        CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = NO_ERROR;
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
    } else {
        DWORD written = 0;
        if (!WriteFile(file, bytes, count, &written, nullptr) || written != count)
            error = GetLastError() != NO_ERROR ? GetLastError() : ERROR_WRITE_FAULT;
        if (!error && !FlushFileBuffers(file))
            error = GetLastError();
        if (!CloseHandle(file) && !error)
            error = GetLastError();
    }
    if (!error && !MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (!error)
        return 1;
    DeleteFileA(temp);
    SetLastError(error);
    return 0;
}

std::vector<char> ReadWholeFile(const char *path, DWORD *count) {
    *count = 0;
    std::vector<char> block;
    DWORD read = 0;
    if (ReadBlock(path, block, read) != ReadResult::Read || read != block.size() - 1)
        return {};
    *count = read;
    return block;
}
