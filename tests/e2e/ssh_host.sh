# Sourced by the fleet test and the fleet benchmark: starts an sshd on a
# free loopback port with throwaway keys, for as long as the caller runs.
# Needs $scratch; sets $ssh_port and $ssh_key and stops the server on exit.
mkdir -p /run/sshd
ssh-keygen -q -t ed25519 -N '' -f "$scratch/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$scratch/user_key"
cp "$scratch/user_key.pub" "$scratch/authorized_keys"
ssh_key="$scratch/user_key"
ssh_port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat >"$scratch/sshd_config" <<CONFIG
Port $ssh_port
ListenAddress 127.0.0.1
HostKey $scratch/host_key
PidFile $scratch/sshd.pid
AuthorizedKeysFile $scratch/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
MaxStartups 100:30:200
MaxSessions 100
Subsystem sftp internal-sftp
CONFIG
/usr/sbin/sshd -f "$scratch/sshd_config" -D -e 2>"$scratch/sshd.log" &
sshd_pid=$!
trap 'kill $sshd_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $ssh_port), 1)" 2>/dev/null && break
  sleep 0.1
done
