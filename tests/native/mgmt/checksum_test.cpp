// CRC-32 and MD5 against published test vectors, and the credential digest.
#include <gtest/gtest.h>

#include <string>

#include "mgmt/crc32.h"
#include "mgmt/credentials.h"
#include "mgmt/md5.h"
#include "mgmt_test_util.h"

static std::string md5Hex(const char* text)
{
    uint8_t d[16];
    md5OfStrings(d, text, (const char*)0);
    return hex(d, 16);
}

TEST(Crc32, StandardCheckValues)
{
    EXPECT_EQ(0xCBF43926u, crc32("123456789", 9));
    EXPECT_EQ(0u, crc32("", 0));
    const uint8_t probe[] = {0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_EQ(0x55B401A7u, crc32(probe, 4));
    // A million zero bytes exercises every table entry path over a long run.
    std::string zeros(1000000, '\0');
    EXPECT_EQ(0x1279CB9Eu, crc32(zeros.data(), zeros.size()));
}

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", md5Hex(""));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", md5Hex("a"));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", md5Hex("abc"));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", md5Hex("message digest"));
    EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", md5Hex("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
              md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
              md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

TEST(Md5, StringListIsPlainConcatenation)
{
    uint8_t split[16], whole[16];
    md5OfStrings(split, "message", " ", "", "digest", (const char*)0);
    md5OfStrings(whole, "message digest", (const char*)0);
    EXPECT_EQ(hex(whole, 16), hex(split, 16));

    // Padding boundaries: 55, 56 and 64 bytes, fed in uneven pieces.
    for (size_t n : {55u, 56u, 63u, 64u, 65u, 119u, 120u}) {
        std::string a(n, 'x');
        std::string head = a.substr(0, n / 3), tail = a.substr(n / 3);
        uint8_t one[16], two[16];
        md5OfStrings(one, a.c_str(), (const char*)0);
        md5OfStrings(two, head.c_str(), tail.c_str(), (const char*)0);
        EXPECT_EQ(hex(one, 16), hex(two, 16)) << "length " << n;
    }
    // Reference from md5sum for a 56-byte message (length block spills over).
    EXPECT_EQ("668a72d5ba17f08e62dabcafad6db14b", md5Hex(std::string(56, 'x').c_str()));
}

class CredentialDigest : public ::testing::Test {
protected:
    void TearDown() override
    {
        strcpy(deviceUserName, "tolmo");
        strcpy(devicePassword, "tolmo");
    }
};

TEST_F(CredentialDigest, DefaultCredentials)
{
    EXPECT_STREQ("tolmo", deviceUserName);
    EXPECT_STREQ("tolmo", devicePassword);
    uint8_t d[16];
    computeAuthDigest(d);
    // printf 'tolmo:mgmt.realm.0001:tolmo' | md5sum
    EXPECT_EQ("c677aaaa435000708ba5dd50ccc3affc", hex(d, 16));
}

TEST_F(CredentialDigest, EmptyCredentialsDigestTheRealmBetweenColons)
{
    memset(deviceUserName, 0, sizeof deviceUserName);
    memset(devicePassword, 0, sizeof devicePassword);
    uint8_t d[16];
    computeAuthDigest(d);
    // printf ':mgmt.realm.0001:' | md5sum
    EXPECT_EQ("99b9e831884e2834356efe90aebdf5be", hex(d, 16));
}

TEST_F(CredentialDigest, FollowsChangedCredentials)
{
    strcpy(deviceUserName, "admin");
    strcpy(devicePassword, "s3cret");
    uint8_t d[16], direct[16];
    computeAuthDigest(d);
    digestCredentials("admin", "s3cret", direct);
    EXPECT_EQ("746191178e1c6338963e56d15589dc4b", hex(d, 16));
    EXPECT_EQ(hex(direct, 16), hex(d, 16));
}

TEST_F(CredentialDigest, UnterminatedBufferReadsSixteenBytesAtMost)
{
    memset(deviceUserName, 'u', sizeof deviceUserName);
    memset(devicePassword, 'p', sizeof devicePassword);
    uint8_t d[16], expected[16];
    computeAuthDigest(d);
    digestCredentials(std::string(16, 'u').c_str(), std::string(16, 'p').c_str(), expected);
    EXPECT_EQ(hex(expected, 16), hex(d, 16));
}
