# The integrity database encrypted at rest: the reference databases of an
# independent implementation decrypt to their documented content; a plain
# si.db is converted once, then holds no monitored path in plain text and
# every command works; key files others may read are refused; a wrong key
# changes nothing; rekey and decrypt.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
C=$SRC/tests/data/ciphers
DIGEST=fd3037a5bf1ef761b6f313c97fa0716945caf7925d76c700f66cb457c31270e6
cp "$C"/*.db "$WORK/" && chmod u+w "$WORK"/*.db
decrypt() { "$AGENT" --workdir "$WORK/d" --config "$SRC/examples/default.xml" decrypt "$@"; }
n=0
while IFS='|' read -r file key; do
    n=$((n + 1))
    expect_status 0 "decrypt $file with '$key'" -- decrypt --key "$key" "$WORK/$file" "$WORK/plain$n.db"
    check "$file: the entity count" [ "$(cat "$WORK/out")" = "1200 entities in $WORK/plain$n.db" ]
    check "$file: the documented content" [ "$(sqlite3 "$WORK/plain$n.db" .dump | sha256sum)" = "$DIGEST  -" ]
done <<'CASES'
aes128-legacy0.db|aes128:Secret key 1
aes128-legacy0.db|Secret key 1
aes128-legacy0.db|the aes128:Secret key 1
aes128-legacy1.db|aes128:Secret key 1
aes256-legacy0.db|AES256:Another key: 2
aes256-wal.db|aes256:wal-key
CASES
while IFS='|' read -r file key; do
    expect_status 69 "decrypt $file with '$key' is refused" -- decrypt --key "$key" "$WORK/$file" "$WORK/wrong.db"
    expect_text "$WORK/err" "file is not a database" "$file with '$key': the reason"
    check "$file with '$key': no copy" [ ! -e "$WORK/wrong.db" ]
done <<'CASES'
aes256-wal.db|aes256:Wal-key
aes256-legacy0.db|aes128:Another key: 2
plain1.db|aes128:Secret key 1
CASES

T=$WORK/tree-of-secrets
mkdir -p "$T" && echo one >"$T/first" && echo two >"$T/second"
config_xml "" 'id="7" name="Tree" identifier="1007" severity="2"' \
    "<FileSet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>" >"$WORK/plain.xml"
config_xml 'integrityDatabaseKeyFile="key"' 'id="7" name="Tree" identifier="1007" severity="2"' \
    "<FileSet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>" >"$WORK/enc.xml"
W=$WORK/w
agent() { "$AGENT" --workdir "$W" --config "$WORK/enc.xml" "$@"; }
plain() { "$AGENT" --workdir "$W" --config "$WORK/plain.xml" "$@"; }
lacks() { ! grep -q -a "$1" "$2"; }
echo 'aes256:first key' >"$WORK/key" && chmod 600 "$WORK/key"
expect_status 0 "a plain baseline" -- plain baseline
check "the plain si.db shows its paths" grep -q -a "$T" "$W/si.db"
expect_status 0 "check with a key converts si.db" -- agent check
expect_text "$W/kvo-agent.log" "was plain: it is now encrypted (AES-256)" "the log says so"
echo three >"$T/third" && rm "$T/first"
expect_status 3 "check on the encrypted si.db" -- agent check
for command in events entities status dump "decrypt $W/si.db $WORK/copy.db" "rules --plan --keep $WORK/plan.db"; do
    expect_status 0 "$command with the key" -- agent $command
done
check "the plain copy holds the entities" [ "$(sqlite3 "$WORK/copy.db" 'SELECT COUNT(*) FROM Entitys WHERE supercededBy IS NULL AND key<>"";')" = 2 ]
for f in "$W"/si.db* "$WORK/plan.db"; do check "no path in plain text in $f" lacks "$T" "$f"; done
expect_status 26 "sqlite3 cannot read si.db" -- sqlite3 "$W/si.db" 'SELECT 1 FROM Entitys'
expect_text "$WORK/err" "file is not a database" "sqlite3 says why"

before=$(sha256sum <"$W/si.db")
for mode in 640 604; do
    chmod $mode "$WORK/key"
    expect_status 65 "a key file of mode $mode is refused" -- agent status
    expect_text "$WORK/err" "has mode 0$mode: it must not be readable or writable by group or others" "mode $mode: why"
done
chmod 600 "$WORK/key" && chown nobody "$WORK/key"
expect_status 65 "another user's key file is refused" -- agent status
expect_text "$WORK/err" "is owned by uid $(id -u nobody), not by the agent's user" "another user's: why"
chown "$(id -u)" "$WORK/key"
echo 'aes256:other key' >"$WORK/key"
expect_status 69 "a wrong key stops the start" -- agent check
expect_text "$WORK/err" "the configured key does not open the integrity database" "the wrong key: why"
check "a wrong key changed nothing" [ "$(sha256sum <"$W/si.db")" = "$before" ] && [ ! -e "$W/si.db.rekey" ]

echo 'aes256:first key' >"$WORK/key"
echo 'aes128:second key' >"$WORK/new" && chmod 600 "$WORK/new"
expect_status 0 "rekey" -- agent rekey --key-file "$WORK/new"
expect_status 69 "the old key no longer opens si.db" -- agent check
mkdir "$WORK/creds" && mv "$WORK/new" "$WORK/creds/kvo-db-key"
expect_status 0 "the new key as a systemd credential" -- env CREDENTIALS_DIRECTORY="$WORK/creds" "$AGENT" --workdir "$W" --config "$WORK/plain.xml" check
finish
