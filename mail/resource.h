// Resource identifiers of quenta.dll.
#pragma once

#define IDR_MAIL 101
#define IDS_PROJNAME 100
// An error text's string id is its MailErrorCode plus this.
#define IDS_MAIL_ERROR_BASE 100
