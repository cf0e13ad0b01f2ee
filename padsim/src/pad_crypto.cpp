#include "pad_crypto.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace padsim::crypto {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Single DES is triple DES with three equal keys; the default provider has only the latter.
std::string ThreeKeyForm(std::string_view key) {
    switch (key.size()) {
        case 8:
            return std::string(key) + std::string(key) + std::string(key);
        case 16:
            return std::string(key) + std::string(key.substr(0, 8));
        case 24:
            return std::string(key);
        default:
            throw std::invalid_argument("key length");
    }
}

std::string Run(const EVP_CIPHER* cipher, std::string_view key, std::string_view data,
                bool encrypt) {
    if (data.size() % 8 != 0) throw std::invalid_argument("data length");
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    const std::string k = ThreeKeyForm(key);
    const unsigned char iv[8] = {};
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr,
                                  reinterpret_cast<const unsigned char*>(k.data()), iv,
                                  encrypt ? 1 : 0) != 1)
        throw std::runtime_error("cipher set-up");
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::string out(data.size() + 8, '\0');
    int n = 0, tail = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char*>(data.data()),
                         static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), o + n, &tail) != 1)
        throw std::runtime_error("cipher");
    out.resize(static_cast<std::size_t>(n) + static_cast<std::size_t>(tail));
    return out;
}

std::string XorBlock(std::string_view a, std::string_view b) {
    std::string out(8, '\0');
    for (std::size_t i = 0; i < 8; ++i) out[i] = static_cast<char>(a[i] ^ b[i]);
    return out;
}

std::string ZeroPadded(std::string_view message) {
    std::string m(message);
    if (m.empty() || m.size() % 8 != 0) m.append(8 - m.size() % 8, '\0');
    return m;
}

// CBC over all blocks with single DES under the key's first eight bytes, the last block
// through the full key: ANSI X9.19 retail MAC for a two-key key, plain CBC-MAC for a single one.
std::string RetailMac(std::string_view key, std::string_view padded) {
    const std::string_view k1 = key.substr(0, 8);
    std::string chain(8, '\0');
    for (std::size_t at = 0; at + 8 < padded.size(); at += 8)
        chain = EncryptEcb(k1, XorBlock(chain, padded.substr(at, 8)));
    return EncryptEcb(key, XorBlock(chain, padded.substr(padded.size() - 8, 8)));
}

std::string LastBlock(const std::string& s) { return s.substr(s.size() - 8); }

}  // namespace

std::optional<std::string> HexToBytes(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::string BytesToHex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool IsHex(std::string_view text) {
    for (char c : text)
        if (HexValue(c) < 0) return false;
    return true;
}

bool ValidKeyLength(std::size_t bytes) { return bytes == 8 || bytes == 16 || bytes == 24; }

std::string EncryptEcb(std::string_view key, std::string_view data) {
    return Run(EVP_des_ede3_ecb(), key, data, true);
}
std::string DecryptEcb(std::string_view key, std::string_view data) {
    return Run(EVP_des_ede3_ecb(), key, data, false);
}
std::string EncryptCbc(std::string_view key, std::string_view data) {
    return Run(EVP_des_ede3_cbc(), key, data, true);
}
std::string DecryptCbc(std::string_view key, std::string_view data) {
    return Run(EVP_des_ede3_cbc(), key, data, false);
}

std::string VerifyCode(std::string_view key) {
    return BytesToHex(EncryptEcb(key, std::string(8, '\0'))).substr(0, 8);
}

bool OddParity(std::string_view key) {
    for (unsigned char c : key)
        if (__builtin_popcount(c) % 2 == 0) return false;
    return true;
}

std::string Mac(MacMethod method, std::string_view key, std::string_view message) {
    switch (method) {
        case MacMethod::X99:
            return LastBlock(EncryptCbc(key.substr(0, 8), ZeroPadded(message)));
        case MacMethod::X919:
            return RetailMac(key, ZeroPadded(message));
        case MacMethod::Iso16609:
            return LastBlock(EncryptCbc(key, ZeroPadded(message)));
        case MacMethod::Pboc: {
            std::string padded(message);
            padded += '\x80';
            padded.append((8 - padded.size() % 8) % 8, '\0');
            return RetailMac(key, padded);
        }
    }
    throw std::invalid_argument("MAC method");
}

}  // namespace padsim::crypto
