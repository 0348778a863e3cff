// Current device credentials and the digest built from them.
#include "mgmt/credentials.h"

#include <cstring>

#include "mgmt/md5.h"

char deviceUserName[CREDENTIAL_SIZE] = "tolmo";
char devicePassword[CREDENTIAL_SIZE] = "tolmo";

void digestCredentials(const char* userName, const char* password, uint8_t digest[16])
{
    md5OfStrings(digest, userName, ":", MGMT_REALM, ":", password, (const char*)0);
}

void computeAuthDigest(uint8_t digest[16])
{
    char user[CREDENTIAL_SIZE + 1];
    char password[CREDENTIAL_SIZE + 1];
    memcpy(user, deviceUserName, CREDENTIAL_SIZE);
    memcpy(password, devicePassword, CREDENTIAL_SIZE);
    user[CREDENTIAL_SIZE] = '\0';
    password[CREDENTIAL_SIZE] = '\0';
    digestCredentials(user, password, digest);
}
