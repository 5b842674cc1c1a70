#!/usr/bin/env bash
# The Ansible collection corvane.wine over real SSH: an sshd of its own on 127.0.0.1 (a
# free port, a host key made here), two users made here, each with a copy of the demo
# prefix as ~/.wine, and an inventory of two hosts, both 127.0.0.1, one user each (key
# authentication with a key made here). playbook.yml then scans, repairs in check mode,
# repairs, repairs again and undoes on both. The sshd, the users (with their homes and
# what their corvane-cli left in /tmp) and the keys are removed whatever happens.
# Needs root (useradd, sshd); skipped otherwise.
#
# usage: ansible-ssh.sh CORVANE-CLI LIBRARY COLLECTIONS DEMO-PREFIX
set -uo pipefail
cli=$1
library=$2
collections=$3
demo=$4
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" != 0 ]; then
  echo "SKIP: needs root to make users and start an sshd"
  exit 77
fi
for tool in ansible-playbook /usr/sbin/sshd ssh-keygen useradd userdel; do
  command -v "$tool" >/dev/null || {
    echo "FAIL: $tool is missing (scripts/bootstrap installs ansible-core and openssh-server)"
    exit 1
  }
done
[ -d "$collections/ansible_collections/corvane/wine" ] || {
  echo "FAIL: no collection corvane.wine in $collections (is ansible-galaxy installed?)"
  exit 1
}

work=$(mktemp -d /tmp/corvane-ansible.XXXXXX) || exit 1
chmod 755 "$work"
users=("cvt$$a" "cvt$$b")
made=()
sshd_pid=""
cleanup() {
  if [ -n "$sshd_pid" ]; then
    kill "$sshd_pid" 2>/dev/null
    wait "$sshd_pid" 2>/dev/null
  fi
  for user in "${made[@]}"; do
    uid=$(id -u "$user" 2>/dev/null) || continue
    # A wineserver the playbook started and did not end; the folder Wine or the user's
    # corvane-cli made for it (named by the prefix's wineserver file).
    pkill -KILL -u "$user" 2>/dev/null
    home=$(getent passwd "$user" | cut -d: -f6)
    name=$(cat "$home/.wine/wineserver" 2>/dev/null)
    case $name in wine-?*) rm -rf "/tmp/${name:?}" ;; esac
    # The session of a command that just ended may still be closing.
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      userdel -r "$user" 2>/dev/null && break
      sleep 0.5
    done
    id "$user" >/dev/null 2>&1 && echo "WARNING: could not remove user $user"
    # The wineserver lock folder the user's corvane-cli made (no runtime folder).
    rm -rf "/tmp/.wine-$uid"
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "FAIL: $*"
  exit 1
}

# The build's corvane-cli and library in a folder the users may read but not write, as
# an installed copy (the build keeps its library for root alone; history and undo copy
# the shipped library into the user's folders).
mkdir -p "$work/bin" "$work/keys" "$work/copies"
install -m 755 "$cli" "$work/bin/corvane-cli" &&
  install -m 644 "$library" "$work/bin/cvdb.db" || fail "cannot copy $cli and $library"

ssh-keygen -q -t ed25519 -N '' -C corvane-test-host -f "$work/host_key" || fail "ssh-keygen"
ssh-keygen -q -t ed25519 -N '' -C corvane-test-client -f "$work/client_key" || fail "ssh-keygen"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
echo "[127.0.0.1]:$port $(cut -d' ' -f1-2 "$work/host_key.pub")" >"$work/known_hosts"

inventory="$work/inventory"
echo "[machines]" >"$inventory"
host=a
for user in "${users[@]}"; do
  useradd -m -p '*' -s /bin/bash "$user" || fail "useradd $user"
  made+=("$user")
  home=$(getent passwd "$user" | cut -d: -f6)
  cp -a "$demo" "$home/.wine" && chown -R "$user:" "$home/.wine" || fail "copy for $user"
  cp -a "$demo" "$work/copies/host-$host" || fail "copy of the demo prefix"
  install -m 644 "$work/client_key.pub" "$work/keys/$user"
  echo "host-$host ansible_host=127.0.0.1 ansible_user=$user home=$home" >>"$inventory"
  host=b
done
cat >>"$inventory" <<INVENTORY
[machines:vars]
ansible_port=$port
ansible_ssh_private_key_file=$work/client_key
ansible_python_interpreter=/usr/bin/python3
INVENTORY

# /run/sshd is the empty folder sshd's unprivileged child uses; the package makes it
# only at boot.
mkdir -p /run/sshd
cat >"$work/sshd_config" <<CONFIG
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile none
AuthorizedKeysFile $work/keys/%u
# The keys are below /tmp, which every user may write.
StrictModes no
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
AllowUsers ${users[*]}
Subsystem sftp internal-sftp
CONFIG
/usr/sbin/sshd -D -f "$work/sshd_config" -E "$work/sshd.log" &
sshd_pid=$!
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  kill -0 "$sshd_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$sshd_pid" 2>/dev/null || {
  cat "$work/sshd.log"
  fail "sshd did not start"
}

cat >"$work/ansible.cfg" <<CONFIG
[defaults]
host_key_checking = True
local_tmp = $work/ansible-local
[ssh_connection]
ssh_args = -o ControlMaster=no -o UserKnownHostsFile=$work/known_hosts -o StrictHostKeyChecking=yes -o IdentitiesOnly=yes -o BatchMode=yes
pipelining = True
CONFIG
export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_COLLECTIONS_PATH="$collections"
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0
# The sanitizers' settings of the tests are not for the managed side's Python.
unset ASAN_OPTIONS

ansible-playbook -i "$inventory" "$here/playbook.yml" \
  -e "cli=$work/bin/corvane-cli library=$work/bin/cvdb.db state=$here/../support/prefix-state.sh copies=$work/copies" \
  >"$work/playbook.log" 2>&1
status=$?
cat "$work/playbook.log"
if [ $status != 0 ]; then
  echo "--- sshd.log"
  tail -30 "$work/sshd.log"
  fail "the playbook failed ($status)"
fi
grep -q 'host-a *: ok=.*failed=0' "$work/playbook.log" &&
  grep -q 'host-b *: ok=.*failed=0' "$work/playbook.log" || fail "a host did not run every task"
echo "PASS"
