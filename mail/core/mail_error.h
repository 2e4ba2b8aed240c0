// Failure codes of the mail component. Inside the component a failure is thrown as a
// MailErrorCode; the boundary (the COM members) catches it and reports the code.
#pragma once

#include <new>
#include <utility>

enum MailErrorCode : int {
    kMailOk = 0,
    kMailDateLine = 1,      // "Fault to create the date of mail sending."
    kMailCannotAddItem = 2, // "Can not add the mail item."
    kMailFileNotFound = 3,  // body file or attachment cannot be opened
    kMailFileRead = 4,      // read error before the end of a body file or attachment
    kMailSocket = 5,
    kMailServerNotFound = 6,
    kMailConnect = 7,
    kMailRejected = 8,
    kMailLocalHostName = 9,
    kMailNotSent = 10,
    kMailTimeout = 11,
    kMailIncomplete = 12, // message without From, To or any part
    kMailAuthNotSupported = 101,
    kMailAuthWrongCredentials = 102,
    kMailAuthOther = 103,
    kMailDependentDll = 104,
    kMailRegistry = 105,
};

[[noreturn]] inline void ThrowMailError(MailErrorCode code) {
    throw code;
}

// Runs an operation of the component and returns its failure code (0 on success). This is the
// one place where a thrown code, or a lack of memory (code 2), becomes a result.
template <class Operation> MailErrorCode CatchMailError(Operation &&operation) noexcept {
    try {
        std::forward<Operation>(operation)();
        return kMailOk;
    } catch (MailErrorCode code) {
        return code;
    } catch (const std::bad_alloc &) {
        return kMailCannotAddItem;
    } catch (...) {
        // Any other exception of the standard library comes from a string or container
        // that could not grow.
        return kMailCannotAddItem;
    }
}
