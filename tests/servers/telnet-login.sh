#!/bin/sh
# The login program of the Telnet test server: asks for a user and a password (without echo on
# the terminal), and for telnetuser / telnet-pw-123 starts an interactive shell with the prompt
# "quillon$ "; anything else gets "Login incorrect".
#   telnet-login.sh DIR     (the session's working folder)
cd "${1:-/}"
printf 'login: '
IFS= read -r user || exit 1
if [ -t 0 ]; then stty -echo; fi
printf 'Password: '
IFS= read -r password || exit 1
if [ -t 0 ]; then stty echo; fi
printf '\n'
if [ "$user" = telnetuser ] && [ "$password" = telnet-pw-123 ]; then
  PS1='quillon$ ' exec /bin/sh -i
fi
echo "Login incorrect"
# telnetd closes the connection as soon as its child exits, dropping what it has not yet read
# from the terminal: give it the moment it needs to pass the last line on.
sleep 1
exit 1
