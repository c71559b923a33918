#include "agent/CommandHelp.h"

#include <cstdio>

namespace KvoAgent {

namespace {

struct Help {
    const char* command;
    const char* text;
};

const Help kHelp[] = {
    {"run",
     "usage: kvo-agent [GLOBAL OPTIONS] run\n"
     "\n"
     "Runs the agent in the foreground until SIGINT or SIGTERM: it stores the configured rules,\n"
     "records their baseline when there is none (or a rule changed), runs the scans that are\n"
     "asked of it and prints each integrity event as it is recorded (id, time, change, rule,\n"
     "entity type, key; an update's attributes with old and new value). SIGHUP reloads the\n"
     "configuration. One agent per work directory: while it runs it holds\n"
     "<workdir>/kvo-agent.lock and serves <workdir>/kvo-agent.sock, through which the other\n"
     "commands on the work directory are carried out inside it.\n"
     "\n"
     "Exit status: 0 stopped by a signal, 64 bad option, 69 the database cannot be used,\n"
     "70 internal error, 75 another agent holds the work directory.\n"},
    {"baseline",
     "usage: kvo-agent [GLOBAL OPTIONS] baseline\n"
     "\n"
     "Records a baseline of what the rules name and prints the current entities per type, the\n"
     "scan's duration and the database size. A baseline that an earlier run left unfinished is\n"
     "resumed and completed instead. When `kvo-agent run` holds the work directory, the running\n"
     "agent records it (or the one it is recording); otherwise this command runs an agent until\n"
     "the scan has completed. Progress goes to stderr when it is a terminal.\n"
     "\n"
     "Exit status: 0, 64 bad option, 69 the database cannot be used, 70 the scan cannot\n"
     "complete, 75 interrupted (run it again to resume), scanning suspended for want of disk space\n"
     "(systemIntegrityFreeMbMin), or another agent holds the work directory.\n"},
    {"decrypt",
     "usage: kvo-agent [GLOBAL OPTIONS] decrypt [--key SPEC | --key-file FILE] SOURCE TARGET\n"
     "\n"
     "Writes TARGET, a new file, as a plain copy of the encrypted integrity database SOURCE and\n"
     "prints how many entity rows it holds. SPEC is \"aes256:KEY\", \"aes128:KEY\" or a bare AES-128\n"
     "key; FILE holds one on its first line (mode 0600, the agent's user's). Without either, the\n"
     "configured key (integrityDatabaseKeyFile or the credential kvo-db-key).\n"
     "\n"
     "Exit status: 0, 64 bad option or TARGET exists, 65 key file refused, 69 the key does not\n"
     "open SOURCE (nothing written).\n"},
    {"rekey",
     "usage: kvo-agent [GLOBAL OPTIONS] rekey --key-file NEW\n"
     "\n"
     "Re-encrypts the work directory's si.db with the key in NEW: an encrypted copy is written\n"
     "beside it, synced and renamed over it. Then make integrityDatabaseKeyFile (or the\n"
     "credential kvo-db-key) name NEW before the agent starts again.\n"
     "\n"
     "Exit status: 0, 64 bad option, 65 key file refused, 69 si.db cannot be read with the\n"
     "configured key or the copy cannot be written (si.db stays as it was), 75 an agent runs.\n"},
    {"check",
     "usage: kvo-agent [GLOBAL OPTIONS] check [--json]\n"
     "\n"
     "Looks for changes: an incremental scan against the baseline, asked of the running agent\n"
     "when `kvo-agent run` holds the work directory, else of an agent this command runs until\n"
     "the scan has completed. Shows the scan's events as they are recorded (id, time, change,\n"
     "rule, entity type, key; an update's attributes with old and new value), then their\n"
     "count. When a baseline has to be recorded first (none yet, or the rules changed), it is\n"
     "recorded, the rules it covered are named, and no changes are reported.\n"
     "\n"
     "  --json   one JSON object per event on stdout; the other lines go to stderr\n"
     "  --help   this text\n"
     "\n"
     "Exit status: the bits of what changed, 1 created, 2 deleted, 4 updated, 8 renamed (0:\n"
     "nothing changed); 16 a baseline was recorded first; 64 bad option, 69 the database cannot\n"
     "be used, 70 the scan cannot complete, 75 interrupted, scanning suspended for want of disk\n"
     "space, or another agent holds the work directory.\n"},
    {"exec",
     "usage: kvo-agent [GLOBAL OPTIONS] exec SCRIPT.lua [ARGS]\n"
     "\n"
     "Runs a Lua script in the agent: the global `dom` is the agent object, `require \"im\"`\n"
     "loads the integrity-monitoring plug-in, and ARGS arrive as `...`.\n"
     "\n"
     "Exit status: 0, 64 no script given, 65 the script cannot be read or raises an error.\n"},
    {"feed",
     "usage: kvo-agent [GLOBAL OPTIONS] feed [FILE]\n"
     "\n"
     "Hands external entity records to the running agent: one XML Entity element per line, as\n"
     "`kvo-agent entities --xml` and `kvo-agent scan-root` print them, from FILE or standard\n"
     "input. Each goes on the queue of its entity type, then the end marker; the file scan that\n"
     "handed its scan over (--set kvo.mode.vmsafeGuest=true) records them as it would what it\n"
     "finds. All or none: a record that is not XML, of an unknown type or of an entity set that\n"
     "does not exist is named with its line, and nothing is handed over.\n"
     "\n"
     "Exit status: 0 (the count of records is printed), 64 bad option, 65 a record refused,\n"
     "75 no agent runs on the work directory.\n"},
    {"scan-root",
     "usage: kvo-agent [GLOBAL OPTIONS] scan-root DIR\n"
     "\n"
     "Scans a file tree mounted at DIR (an image of another host) with the configured file sets,\n"
     "their bases taken below DIR, and prints the records for `kvo-agent feed`, keys as they are\n"
     "seen inside the image. Symbolic links below DIR resolve on this host.\n"
     "\n"
     "Exit status: 0, 64 DIR is not a directory (or is /), 65 the configuration cannot be\n"
     "rewritten for DIR, 70 internal error; a scan that failed gives its own status (69, 70, 75).\n"},
};

}  // namespace

bool CCommandHelp::Print(const std::string& command) {
    for (const Help& help : kHelp) {
        if (command != help.command) continue;
        fputs(help.text, stdout);
        return true;
    }
    return false;
}

}  // namespace KvoAgent
