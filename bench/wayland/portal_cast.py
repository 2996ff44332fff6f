#!/usr/bin/python3
"""Opens a ScreenCast session of the main monitor through the portal and runs a command on its stream.

Usage: portal_cast.py COMMAND ARGS...   ({fd} and {node} in the arguments become the PipeWire remote's
descriptor and the stream's node). The command inherits the descriptor; its exit status is returned.
"""
import subprocess
import sys

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DESKTOP = 'org.freedesktop.portal.Desktop'
PATH = '/org/freedesktop/portal/desktop'

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
screencast = dbus.Interface(bus.get_object(DESKTOP, PATH), 'org.freedesktop.portal.ScreenCast')
sender = bus.get_unique_name()[1:].replace('.', '_')


def call(method, *args, token):
    """Subscribes to the Response at the predicted path, then calls; the Response's results."""
    received = []
    loop = GLib.MainLoop()

    def answered(code, results):
        received.append((int(code), results))
        loop.quit()
    match = bus.add_signal_receiver(answered, 'Response', 'org.freedesktop.portal.Request', DESKTOP,
                                    f'{PATH}/request/{sender}/{token}')
    options = dict(args[-1], handle_token=token)
    getattr(screencast, method)(*args[:-1], dbus.Dictionary(options, signature='sv'))
    GLib.timeout_add_seconds(30, loop.quit)
    loop.run()
    match.remove()
    if not received or received[0][0] != 0:
        sys.exit(f'portal_cast: {method} was not granted: {received}')
    return received[0][1]


session = call('CreateSession', {'session_handle_token': 'bench'}, token='create')['session_handle']
call('SelectSources', dbus.ObjectPath(session),
     {'types': dbus.UInt32(1), 'multiple': False, 'cursor_mode': dbus.UInt32(2)}, token='select')
node = int(call('Start', dbus.ObjectPath(session), '', {}, token='start')['streams'][0][0])
fd = screencast.OpenPipeWireRemote(dbus.ObjectPath(session), dbus.Dictionary({}, signature='sv')).take()
command = [a.replace('{fd}', str(fd)).replace('{node}', str(node)) for a in sys.argv[1:]]
sys.exit(subprocess.run(command, pass_fds=(fd,)).returncode)
