#!/usr/bin/python3
"""Walks the rig through a client's whole ScreenCast life and prints what it saw, one check a line.

Usage: smoke_client.py RIG_PID RIG_STDOUT_FILE NODE_ID (smoke.sh starts the rig and passes these).
"""
import json
import os
import signal
import subprocess
import sys
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DESKTOP = 'org.freedesktop.portal.Desktop'
PATH = '/org/freedesktop/portal/desktop'
SCREENCAST = 'org.freedesktop.portal.ScreenCast'

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = bus.get_object(DESKTOP, PATH)
screencast = dbus.Interface(portal, SCREENCAST)
control = dbus.Interface(portal, 'io.github.ferrovane.TestPortal')
sender = bus.get_unique_name()[1:].replace('.', '_')
tally = {True: 0, False: 0}


def check(ok, what):
    tally[bool(ok)] += 1
    print(f'{"ok  " if ok else "FAIL"} {what}', flush=True)


def wait_for(received, seconds):
    loop = GLib.MainLoop()
    GLib.timeout_add(int(seconds * 1000), loop.quit)

    def poll():
        if received:
            loop.quit()
        return not received
    GLib.timeout_add(5, poll)
    loop.run()
    return received


def call(method, *args, token):
    """Subscribe to the Response at the predicted path first, then call: the race-free order."""
    expected = f'{PATH}/request/{sender}/{token}'
    received = []
    match = bus.add_signal_receiver(lambda code, results: received.append((int(code), results)),
                                    'Response', 'org.freedesktop.portal.Request', DESKTOP, expected)
    options = dict(args[-1], handle_token=token)
    handle = getattr(screencast, method)(*args[:-1], dbus.Dictionary(options, signature='sv'))
    wait_for(received, 5)
    match.remove()
    code, results = received[0] if received else (None, {})
    check(handle == expected and len(received) == 1,
          f'{method}: Response {code} at {handle}' + ('' if handle == expected else f', not {expected}'))
    return code, results


def on_closed(session):
    closed = []
    bus.add_signal_receiver(lambda details: closed.append(session), 'Closed',
                            'org.freedesktop.portal.Session', DESKTOP, session)
    return closed


def open_session(token, select):
    _, results = call('CreateSession', {'session_handle_token': token}, token=f'{token}_create')
    session = str(results.get('session_handle', ''))
    check(session == f'{PATH}/session/{sender}/{token}', f'session handle {session}')
    call('SelectSources', dbus.ObjectPath(session), select, token=f'{token}_select')
    return session


def rig_said(rig_out, prefix, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        with open(rig_out) as f:
            if any(line.startswith(prefix) for line in f.read().splitlines()):
                return True
        time.sleep(0.1)
    return False


def main(rig_pid, rig_out, node_id):
    props = dbus.Interface(portal, 'org.freedesktop.DBus.Properties').GetAll(SCREENCAST)
    check(dict(props) == {'AvailableSourceTypes': 1, 'AvailableCursorModes': 6, 'version': 4},
          f'properties {json.dumps({str(k): int(v) for k, v in props.items()})}')

    # A client that subscribes only after the call returns never hears the answer.
    late = []
    handle = screencast.CreateSession({'handle_token': 'late', 'session_handle_token': 'late'})
    bus.add_signal_receiver(lambda *a: late.append(a), 'Response', 'org.freedesktop.portal.Request',
                            DESKTOP, handle)
    wait_for(late, 1)
    check(not late, 'a Response subscribed to after the call returned is missed')

    # What the real portal refuses outright, with the error it uses.
    late_path = dbus.ObjectPath(f'{PATH}/session/{sender}/late')
    for what, attempt, error in [
            ('a token that is no path element', lambda: screencast.CreateSession({'handle_token': 'a-b'}),
             'org.freedesktop.portal.Error.InvalidArgument'),
            ('a cursor mode not offered', lambda: screencast.SelectSources(
                late_path, {'cursor_mode': dbus.UInt32(1)}), 'org.freedesktop.portal.Error.InvalidArgument'),
            ('Start before SelectSources', lambda: screencast.Start(late_path, '', {}),
             'org.freedesktop.DBus.Error.Failed')]:
        try:
            attempt()
            got = 'no error'
        except dbus.DBusException as e:
            got = e.get_dbus_name()
        check(got == error, f'{what} is refused: {got}')

    select = {'types': dbus.UInt32(1), 'multiple': False, 'cursor_mode': dbus.UInt32(2),
              'persist_mode': dbus.UInt32(2)}
    first = open_session('first', select)
    code, results = call('Start', dbus.ObjectPath(first), '', {}, token='first_start')
    streams = results.get('streams', [])
    token = str(results.get('restore_token', ''))
    check(code == 0 and len(streams) == 1 and int(streams[0][0]) == node_id,
          f'Start gave node {int(streams[0][0]) if streams else None}, '
          f'size {tuple(int(x) for x in streams[0][1]["size"]) if streams else None}, a restore token: {bool(token)}')

    fd = screencast.OpenPipeWireRemote(dbus.ObjectPath(first), dbus.Dictionary({}, signature='sv')).take()
    consumer = subprocess.run(
        # Without a media type the session manager links the stream to nothing.
        ['gst-launch-1.0', '-v', 'pipewiresrc', f'fd={fd}', f'path={node_id}', 'num-buffers=30',
         'stream-properties=props,media.type=Video', '!', 'fakesink', 'silent=false'],
        pass_fds=(fd,), capture_output=True, text=True, timeout=30)
    os.close(fd)
    frames = sum('chain' in line and 'fakesink' in line for line in consumer.stdout.splitlines())
    caps = next((line.split('caps = ')[1] for line in consumer.stdout.splitlines()
                 if 'fakesink0.GstPad:sink: caps' in line), None)
    check(consumer.returncode == 0 and frames == 30, f'{frames} frames through the portal fd, caps {caps}')

    screencast_session = dbus.Interface(bus.get_object(DESKTOP, first), 'org.freedesktop.portal.Session')
    first_closed = on_closed(first)
    screencast_session.Close()
    wait_for(first_closed, 0.5)
    check(not first_closed, 'closing our own session sends no Closed')

    second = open_session('second', dict(select, restore_token=token))
    code, results = call('Start', dbus.ObjectPath(second), '', {}, token='second_start')
    calls = json.loads(control.Calls())
    passed = [c['options'].get('restore_token') for c in calls
              if c['method'] == 'SelectSources' and c['session'] == second]
    restored = [c['restored'] for c in calls if c['method'] == 'Start.Response' and c['session'] == second]
    check(passed == [token] and restored == [True], f'second SelectSources passed the first token: {passed}')
    check(str(results.get('restore_token')) not in ('', token), 'second Start gave a fresh token')
    check([c['options'].get('cursor_mode') for c in calls
           if c['method'] == 'SelectSources' and c['session'] in (first, second)] == [2, 2],
          'Calls() shows cursor_mode 2 asked by both sessions')

    closed = on_closed(second)
    control.CloseSessions()
    wait_for(closed, 2)
    check(closed == [second], f'CloseSessions emitted Closed on {closed}')

    control.SetStartResponse(dbus.UInt32(1))
    cancelled = open_session('cancelled', select)
    closed = on_closed(cancelled)
    code, _ = call('Start', dbus.ObjectPath(cancelled), '', {}, token='cancelled_start')
    wait_for(closed, 2)
    check(code == 1 and closed == [cancelled], f'a cancelled Start answers {code} and closes the session')
    control.SetStartResponse(dbus.UInt32(0))

    os.kill(rig_pid, signal.SIGUSR1)
    check(rig_said(rig_out, 'producer stopped'), 'the rig stopped the producer on SIGUSR1')
    orphan = open_session('orphan', select)
    closed = on_closed(orphan)
    code, _ = call('Start', dbus.ObjectPath(orphan), '', {}, token='orphan_start')
    wait_for(closed, 2)
    check(code == 2 and closed == [orphan], f'Start without a producer answers {code} and closes the session')
    os.kill(rig_pid, signal.SIGUSR2)
    check(rig_said(rig_out, 'producer node='), 'the rig started the producer again on SIGUSR2')

    print(f'{tally[True]} passed, {tally[False]} failed')
    return 1 if tally[False] else 0


if __name__ == '__main__':
    sys.exit(main(int(sys.argv[1]), sys.argv[2], int(sys.argv[3])))
