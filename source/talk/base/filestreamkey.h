// The built-in public key of the encrypted file format.
//
// A PEM "PUBLIC KEY" block (X.509 SubjectPublicKeyInfo) of a 1024-bit RSA
// key, as zero-terminated text. It is defined alone in filestreamkey.cc so
// that a program (a test) can link a key of its own in its place.
//
// Threads: the text is constant; any thread may read it.
#ifndef TALK_BASE_FILESTREAMKEY_H_
#define TALK_BASE_FILESTREAMKEY_H_

namespace talk_base {

const char* GetFileStreamPublicKey();

}  // namespace talk_base

#endif  // TALK_BASE_FILESTREAMKEY_H_
