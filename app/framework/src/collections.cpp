// CString and CPtrList.
#include "internal.h"

#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------------------------------
// CString

BOOL CString::LoadString(UINT id) {
    s_.clear();
    HINSTANCE module = AfxGetResourceHandle();
    // The string's length from its resource entry (LoadStringW with no buffer gives a
    // read-only pointer to the counted text), then the ANSI text in one pass.
    const wchar_t *raw = nullptr;
    int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&raw), 0);
    if (length <= 0)
        return FALSE;
    std::string buffer(static_cast<size_t>(length) * 2 + 1, '\0');
    int got = ::LoadStringA(module, id, buffer.data(), static_cast<int>(buffer.size()));
    if (got <= 0)
        return FALSE;
    s_.assign(buffer.data(), static_cast<size_t>(got));
    return TRUE;
}

void CString::Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char *format, va_list args) {
    if (!format) {
        s_.clear();
        return;
    }
    va_list sizing;
    va_copy(sizing, args);
    int n = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (n < 0) {
        s_.clear();
        return;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    s_ = std::move(out);
}

char *CString::GetBuffer(int minLength) {
    size_t want = minLength > 0 ? static_cast<size_t>(minLength) : 0;
    if (s_.size() < want)
        s_.resize(want, '\0');
    return s_.data(); // s_.size() + 1 characters are writable, the last being the NUL
}

void CString::ReleaseBuffer(int newLength) {
    size_t n = newLength < 0 ? strnlen(s_.c_str(), s_.size()) : static_cast<size_t>(newLength);
    if (n < s_.size())
        s_.resize(n);
}

// ---------------------------------------------------------------------------------------
// CPtrList

struct CPtrList::Node : __POSITION {
    Node *next;
    Node *prev;
    void *data;
};

CPtrList::CPtrList(INT_PTR) {}

CPtrList::~CPtrList() {
    RemoveAll();
}

POSITION CPtrList::AddHead(void *value) {
    Node *n = new Node;
    n->data = value;
    n->prev = nullptr;
    n->next = head_;
    if (head_)
        head_->prev = n;
    else
        tail_ = n;
    head_ = n;
    ++count_;
    return n;
}

POSITION CPtrList::AddTail(void *value) {
    Node *n = new Node;
    n->data = value;
    n->next = nullptr;
    n->prev = tail_;
    if (tail_)
        tail_->next = n;
    else
        head_ = n;
    tail_ = n;
    ++count_;
    return n;
}

void *CPtrList::RemoveHead() {
    if (!head_)
        return nullptr;
    void *value = head_->data;
    RemoveAt(head_);
    return value;
}

void *CPtrList::RemoveTail() {
    if (!tail_)
        return nullptr;
    void *value = tail_->data;
    RemoveAt(tail_);
    return value;
}

void CPtrList::RemoveAll() {
    for (Node *n = head_; n;) {
        Node *next = n->next;
        delete n;
        n = next;
    }
    head_ = tail_ = nullptr;
    count_ = 0;
}

POSITION CPtrList::GetHeadPosition() const {
    return head_;
}
POSITION CPtrList::GetTailPosition() const {
    return tail_;
}

void *&CPtrList::GetHead() {
    return head_->data;
}

void *&CPtrList::GetNext(POSITION &pos) {
    Node *n = static_cast<Node *>(pos);
    pos = n->next;
    return n->data;
}

void *&CPtrList::GetPrev(POSITION &pos) {
    Node *n = static_cast<Node *>(pos);
    pos = n->prev;
    return n->data;
}

void *&CPtrList::GetAt(POSITION pos) {
    return static_cast<Node *>(pos)->data;
}

void CPtrList::SetAt(POSITION pos, void *value) {
    static_cast<Node *>(pos)->data = value;
}

void CPtrList::RemoveAt(POSITION pos) {
    Node *n = static_cast<Node *>(pos);
    if (!n)
        return;
    if (n->prev)
        n->prev->next = n->next;
    else
        head_ = n->next;
    if (n->next)
        n->next->prev = n->prev;
    else
        tail_ = n->prev;
    delete n;
    --count_;
}

POSITION CPtrList::InsertAfter(POSITION pos, void *value) {
    Node *at = static_cast<Node *>(pos);
    if (!at || at == tail_)
        return AddTail(value);
    Node *n = new Node;
    n->data = value;
    n->prev = at;
    n->next = at->next;
    at->next->prev = n;
    at->next = n;
    ++count_;
    return n;
}

POSITION CPtrList::InsertBefore(POSITION pos, void *value) {
    Node *at = static_cast<Node *>(pos);
    if (!at || at == head_)
        return AddHead(value);
    Node *n = new Node;
    n->data = value;
    n->next = at;
    n->prev = at->prev;
    at->prev->next = n;
    at->prev = n;
    ++count_;
    return n;
}

POSITION CPtrList::Find(void *value, POSITION startAfter) const {
    Node *n = startAfter ? static_cast<Node *>(startAfter)->next : head_;
    for (; n; n = n->next)
        if (n->data == value)
            return n;
    return nullptr;
}
