#include "agent/KeyCommand.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include <lua.hpp>
#include <openssl/crypto.h>
#include <wx/filename.h>

#include "agent/AgentHost.h"
#include "agent/IntegrityKey.h"
#include "agent/PluginKeys.h"
#include "agent/Utf8.h"
#include "core/AgentLua.h"
#include "core/IntegrityKeyFile.h"
#include "core/DatabaseRekey.h"
#include "core/Dom.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

std::string Absolute(const std::string& path, const wxString& startDir) {
    wxFileName name(wxString::FromUTF8(path.c_str()));
    name.MakeAbsolute(startDir);
    return Narrow(name.GetFullPath());
}

// SLB.im.DecryptDatabase_l(dom, key, source, target): its first two results.
bool CallDecrypt(KvoCore::CDom& dom, const std::string& keyText, const std::string& source, const std::string& target,
                 std::string& count) {
    std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
    if (!L) return false;
    luaL_openlibs(L.get());
    KvoCore::OpenAgentLua(L.get(), dom);
    if (luaL_loadstring(L.get(), "require 'im'; return SLB.im.DecryptDatabase_l(dom, ...)") != LUA_OK) return false;
    for (const std::string* text : {&keyText, &source, &target}) lua_pushlstring(L.get(), text->data(), text->size());
    if (lua_pcall(L.get(), 3, 2, 0) != LUA_OK) {
        fprintf(stderr, "kvo-agent: %s\n", lua_tostring(L.get(), -1));
        return false;
    }
    if (lua_tointeger(L.get(), -2) != 0 || !lua_isstring(L.get(), -1)) return false;
    count = lua_tostring(L.get(), -1);
    return true;
}

}  // namespace

bool CKeyCommand::Parse(const std::vector<std::string>& arguments, const wxString& startDir, std::string& error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool keyOption = argument == "--key" || (argument == "--key-file");
        if (keyOption && (i + 1 == arguments.size() || !m_key.empty() || !m_keyFile.empty())) {
            error = m_key.empty() && m_keyFile.empty() ? argument + " needs a value" : "give one key option only";
            return false;
        }
        if (argument == "--key") {
            m_key = arguments[++i];
        } else if (argument == "--key-file") {
            m_keyFile = Absolute(arguments[++i], startDir);
        } else if (argument.size() > 1 && argument[0] == '-') {
            error = "unknown option " + argument + " of " + m_command;
            return false;
        } else {
            m_paths.push_back(Absolute(argument, startDir));
        }
    }
    if (m_command == "rekey" && (m_keyFile.empty() || !m_key.empty() || !m_paths.empty())) {
        error = "usage: rekey --key-file NEW";
        return false;
    }
    if (m_command == "decrypt" && m_paths.size() != 2) {
        error = "usage: decrypt [--key SPEC | --key-file FILE] SOURCE TARGET";
        return false;
    }
    return true;
}

int CKeyCommand::Run(KvoCore::CDom& dom) const { return m_command == "rekey" ? Rekey(dom) : Decrypt(dom); }

int CKeyCommand::KeyText(KvoCore::CDom& dom, std::string& keyText) const {
    std::string error;
    if (!m_keyFile.empty()) {
        if (KvoCore::CIntegrityKeyFile::ReadFile(m_keyFile, keyText, error)) return ExitOk;
        fprintf(stderr, "kvo-agent: %s\n", error.c_str());
        return ExitBadInput;
    }
    keyText = m_key;
    if (keyText.empty() && dom.IntegrityDbKey().IsSet())
        keyText = CIntegrityKey::KeyText(dom.IntegrityDbKey());
    if (!keyText.empty()) return ExitOk;
    fprintf(stderr, "kvo-agent: decrypt needs --key or --key-file when no key is configured\n");
    return ExitUsage;
}

int CKeyCommand::Decrypt(KvoCore::CDom& dom) const {
    const std::string& source = m_paths[0];
    const std::string& target = m_paths[1];
    if (::access(target.c_str(), F_OK) == 0) {
        fprintf(stderr, "kvo-agent: %s exists; name a new file for the plain copy\n", target.c_str());
        return ExitUsage;
    }
    std::string keyText, count;
    int status = KeyText(dom, keyText);
    if (status != ExitOk) return status;
    const bool decrypted = CallDecrypt(dom, keyText, source, target, count);
    OPENSSL_cleanse(&keyText[0], keyText.size());
    if (!decrypted) {
        fprintf(stderr, "kvo-agent: %s was not decrypted: a wrong key, or not an encrypted integrity database\n",
                source.c_str());
        return ExitDatabase;
    }
    printf("%s entities in %s\n", count.c_str(), target.c_str());
    return ExitOk;
}

int CKeyCommand::Rekey(KvoCore::CDom& dom) const {
    std::string keyText;
    const int status = KeyText(dom, keyText);
    if (status != ExitOk) return status;
    const KvoCore::CDatabaseKey key = KvoCore::CDatabaseKey::FromKeyText(wxString::FromUTF8(keyText));
    OPENSSL_cleanse(&keyText[0], keyText.size());
    const wxString path = dom.GetWxString(PluginKeys::kDbPath);
    wxString error;
    if (!KvoCore::CDatabaseRekey::Rewrite(dom, path, dom.IntegrityDbKey(), key, error)) {
        fprintf(stderr, "kvo-agent: %s was not re-encrypted: %s\n", Narrow(path).c_str(), Narrow(error).c_str());
        return ExitDatabase;
    }
    KvoCore::LogInfo(wxString::Format("The integrity database %s is now encrypted (%s) with the key in %s", path,
                                      key.CipherName(), wxString::FromUTF8(m_keyFile.c_str())));
    printf("Make integrityDatabaseKeyFile name %s (or install it as the credential kvo-db-key) before the "
           "agent starts again.\n",
           m_keyFile.c_str());
    return ExitOk;
}

}  // namespace KvoAgent
