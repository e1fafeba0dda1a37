#pragma once
// The texts that name one recorder (or, in the share list, one share): passed
// around by copy between the stores, the dialogs, playback and the export.
#include <array>
#include <string>

class ServerConnectionRecord {
public:
    static constexpr int kTextCount = 20;

    ServerConnectionRecord() = default;
    ServerConnectionRecord(const ServerConnectionRecord&) = default;
    ServerConnectionRecord& operator=(const ServerConnectionRecord&) = default;
    ~ServerConnectionRecord() = default;

    std::string GetIp() const { return texts_[kIp]; }
    std::string GetServerName() const { return texts_[kServerName]; }
    std::string GetPort() const { return texts_[kPort]; }
    std::string GetUser() const { return texts_[kUser]; }
    std::string GetPassword() const { return texts_[kPassword]; }
    // "1" when the password is kept in the store file, "0" otherwise.
    std::string GetSaveEnable() const { return texts_[kSaveEnable]; }

    void SetIp(const std::string& text) { texts_[kIp] = text; }
    void SetServerName(const std::string& text) { texts_[kServerName] = text; }
    void SetPort(const std::string& text) { texts_[kPort] = text; }
    void SetUser(const std::string& text) { texts_[kUser] = text; }
    void SetPassword(const std::string& text) { texts_[kPassword] = text; }
    void SetSaveEnable(const std::string& text) { texts_[kSaveEnable] = text; }

    // The text at a fixed position 0-19; the positions without a field stay empty.
    const std::string& Text(int position) const { return texts_.at(static_cast<size_t>(position)); }

private:
    enum Position { kIp = 7, kServerName = 11, kPort = 14, kUser = 16, kPassword = 17, kSaveEnable = 19 };
    std::array<std::string, kTextCount> texts_;
};
