// The user name and password that authorise device commands, and their digest.
#pragma once

#include <cstdint>

#define MGMT_REALM "mgmt.realm.0001"

enum { CREDENTIAL_SIZE = 16 };  // at most 15 characters and the terminator

// Process-wide; both start as "tolmo". Only the Authentication dialog changes them.
extern char deviceUserName[CREDENTIAL_SIZE];
extern char devicePassword[CREDENTIAL_SIZE];

// MD5 of user ":" realm ":" password.
void digestCredentials(const char* userName, const char* password, uint8_t digest[16]);

// The digest of the current credentials, as every request carries it. A
// buffer that lost its terminator is read up to its 16 bytes, never further.
void computeAuthDigest(uint8_t digest[16]);
