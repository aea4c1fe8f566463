#include "talk/base/filestreamkey.h"

namespace talk_base {

// The vendor keeps the private half; files written with it can only be read
// there.
static const char kPublicKey[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQC0HgpaiXL2RxHjTof+cbt8vTwu\n"
    "/OPRLJHnnuW6BnlQrz+XwXwLwkLubqZj+p/wbBiyXzMCVw8ZkUkpY+CMZcIR70rh\n"
    "FTTdCGw/wzKmHbnN3i58dCBJxRNJHze7BcBb5n+9Iy6GH4djOPKY1ENlg6t51P54\n"
    "Ah5dqKdl3ZWFa1dYhwIDAQAB\n"
    "-----END PUBLIC KEY-----";

const char* GetFileStreamPublicKey() { return kPublicKey; }

}  // namespace talk_base
