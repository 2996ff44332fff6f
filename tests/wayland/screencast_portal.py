#!/usr/bin/python3
"""A stand-in for the desktop portal's ScreenCast interface, serving one PipeWire node.

With --mutter it shares mutter's primary monitor instead, through org.gnome.Mutter.ScreenCast as
the GNOME portal does: one mutter session per started portal session.

It keeps the real portal's wire behaviour that clients trip over: request and session paths are
derived from the caller's unique name and tokens, each Response is emitted only after the method
has replied (a client that subscribes late misses it), options are validated, a refused Start
closes the session, restore tokens are single use. Nothing is shown to anyone: every Start is
answered at once with the configured code.

Tests drive it through io.github.ferrovane.TestPortal on the same object.
"""
import argparse
import contextlib
import itertools
import json
import os
import re
import signal
import socket
import subprocess
import sys
import uuid

import dbus
import dbus.lowlevel
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
DESKTOP_PATH = '/org/freedesktop/portal/desktop'
SCREENCAST = 'org.freedesktop.portal.ScreenCast'
SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'
CONTROL = 'io.github.ferrovane.TestPortal'
PROPERTIES = 'org.freedesktop.DBus.Properties'

SOURCE_MONITOR = 1
CURSOR_HIDDEN, CURSOR_EMBEDDED, CURSOR_METADATA = 1, 2, 4
RESPONSE_OTHER = 2

MUTTER = 'org.gnome.Mutter.ScreenCast'
MUTTER_PATH = '/org/gnome/Mutter/ScreenCast'
MUTTER_SESSION = 'org.gnome.Mutter.ScreenCast.Session'
MUTTER_STREAM = 'org.gnome.Mutter.ScreenCast.Stream'
DISPLAY_CONFIG = 'org.gnome.Mutter.DisplayConfig'
DISPLAY_CONFIG_PATH = '/org/gnome/Mutter/DisplayConfig'
MUTTER_CURSOR = {CURSOR_HIDDEN: 0, CURSOR_EMBEDDED: 1, CURSOR_METADATA: 2}
# Mutter names the stream's node once its PipeWire stream is up; on a loaded machine that takes a while.
MUTTER_NODE_TIMEOUT_MS = 10000


class Failed(dbus.DBusException):
    _dbus_error_name = 'org.freedesktop.DBus.Error.Failed'


class AccessDenied(dbus.DBusException):
    _dbus_error_name = 'org.freedesktop.DBus.Error.AccessDenied'


class InvalidArgs(dbus.DBusException):
    _dbus_error_name = 'org.freedesktop.DBus.Error.InvalidArgs'


class InvalidArgument(dbus.DBusException):
    _dbus_error_name = 'org.freedesktop.portal.Error.InvalidArgument'


def log(*parts):
    print('screencast-portal:', *parts, file=sys.stderr, flush=True)


def plain(value):
    """D-Bus values as JSON-friendly Python values (dbus.Boolean is an int, so it goes first)."""
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, int):
        return int(value)
    if isinstance(value, float):
        return float(value)
    return str(value)


def sender_element(sender):
    return sender.lstrip(':').replace('.', '_')


def find_node(name):
    """(id, (width, height) or None) of the PipeWire node called `name`, or None when it is absent."""
    try:
        out = subprocess.run(['pw-dump'], capture_output=True, text=True, timeout=10, check=True).stdout
    except (OSError, subprocess.SubprocessError) as error:
        log('pw-dump failed:', error)
        return None
    for obj in json.loads(out or '[]'):
        info = obj.get('info') or {}
        if not obj.get('type', '').startswith('PipeWire:Interface:Node'):
            continue
        if (info.get('props') or {}).get('node.name') != name:
            continue
        size = None
        params = info.get('params') or {}
        for fmt in (params.get('Format') or []) + (params.get('EnumFormat') or []):
            s = fmt.get('size')
            # A fixed size only; a range means the producer has not settled on one.
            if isinstance(s, dict) and isinstance(s.get('width'), int) and isinstance(s.get('height'), int):
                size = (s['width'], s['height'])
                break
        return obj['id'], size
    return None


@contextlib.contextmanager
def unpreempted():
    """Keeps the bus daemon, woken by our first message, from running before we send the second.

    On a loaded machine it would otherwise route the reply, and the client could have its match
    rule in place, before our next write. Real-time scheduling for a few microseconds; where it
    is not allowed, messages just go out as usual.
    """
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))
    except (OSError, AttributeError):
        yield
        return
    try:
        yield
    finally:
        os.sched_setscheduler(0, os.SCHED_OTHER, os.sched_param(0))


class PropertyObject(dbus.service.Object):
    """org.freedesktop.DBus.Properties over a {interface: {name: value}} table, read only."""

    def properties(self):
        return {}

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        props = self.properties().get(interface, {})
        if name not in props:
            raise InvalidArgs(f'No such property {interface}.{name}')
        return props[name]

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return dbus.Dictionary(self.properties().get(interface, {}), signature='sv')

    @dbus.service.method(PROPERTIES, in_signature='ssv')
    def Set(self, interface, name, value):
        raise AccessDenied(f'{interface}.{name} is read only')


class MutterCast:
    """A cast of mutter's primary monitor through org.gnome.Mutter.ScreenCast, for one portal session."""

    def __init__(self, bus, cursor_mode, closed):
        self.bus, self.cursor_mode = bus, cursor_mode
        self.closed = closed  # called when mutter ends the cast on its own
        self.session = None
        self.receivers = []
        self.timeout = None
        self.started = None  # owed an answer until mutter names the node

    def start(self, started):
        """Calls started(node, (width, height)) once mutter names the stream's node, or
        started(None, None) when it does not; always from the main loop, never from here."""
        self.started = started
        try:
            display = self.bus.get_object(DISPLAY_CONFIG, DISPLAY_CONFIG_PATH)
            logical_monitors = display.GetCurrentState(dbus_interface=DISPLAY_CONFIG)[2]
            # (x, y, scale, transform, primary, [(connector, vendor, product, serial)], properties)
            connector = next((str(m[5][0][0]) for m in logical_monitors if m[4]), None)
            if connector is None:
                raise Failed('mutter has no primary monitor')
            screencast = self.bus.get_object(MUTTER, MUTTER_PATH)
            session_path = screencast.CreateSession(dbus.Dictionary({}, signature='sv'),
                                                    dbus_interface=MUTTER)
            self.session = self.bus.get_object(MUTTER, session_path)
            self.listen(self.on_closed, 'Closed', MUTTER_SESSION, session_path)
            stream_path = self.session.RecordMonitor(
                connector, {'cursor-mode': dbus.UInt32(MUTTER_CURSOR[self.cursor_mode])},
                dbus_interface=MUTTER_SESSION)
            stream = self.bus.get_object(MUTTER, stream_path)

            def added(node):
                width, height = stream.Get(MUTTER_STREAM, 'Parameters', dbus_interface=PROPERTIES)['size']
                log(f'mutter shares {connector} as node {int(node)}, {int(width)}x{int(height)}')
                self.report(int(node), (int(width), int(height)))
            # Before Start: the signal can overtake Start's reply.
            self.listen(added, 'PipeWireStreamAdded', MUTTER_STREAM, stream_path)
            self.session.Start(dbus_interface=MUTTER_SESSION)
        except dbus.DBusException as error:
            log('mutter would not cast:', error)
            self.stop()
            return

        def too_late():
            self.timeout = None
            log('mutter named no node')
            self.stop()
            return False
        self.timeout = GLib.timeout_add(MUTTER_NODE_TIMEOUT_MS, too_late)

    def listen(self, handler, signal_name, interface, path):
        self.receivers.append(self.bus.add_signal_receiver(handler, signal_name, interface, MUTTER, path))

    def report(self, node, size):
        if self.timeout is not None:
            GLib.source_remove(self.timeout)
            self.timeout = None
        started, self.started = self.started, None
        if started:
            started(node, size)

    def on_closed(self):
        self.stop()
        self.closed()

    def stop(self):
        """Ends the cast; mutter's Closed, which answers this, is not passed on."""
        for receiver in self.receivers:
            receiver.remove()
        self.receivers = []
        session, self.session = self.session, None
        if session is not None:
            session.Stop(dbus_interface=MUTTER_SESSION, reply_handler=lambda: None,
                         error_handler=lambda error: None)
        if self.started:
            GLib.idle_add(lambda: self.report(None, None) or False)


class Request(dbus.service.Object):
    def __init__(self, portal, path, sender):
        super().__init__(portal.bus, path)
        self.portal, self.path, self.sender = portal, path, sender
        self.source = None
        portal.requests[path] = self

    def answer(self, call, produce, after=None):
        """Reply to `call` with our path, then emit Response(*produce()) and call after(code).

        With no delay both messages are built first and sent back to back, so the Response reaches
        the bus before a client that subscribes only on reading the reply can have its match rule
        in place. The real portal answers later, but a client that depends on that loses the race
        sooner or later; here it loses every time.
        """
        reply = dbus.lowlevel.MethodReturnMessage(call)
        reply.append(dbus.ObjectPath(self.path), signature='o')

        def fire(send_first=None):
            self.source = None
            code, results = produce()
            response = dbus.lowlevel.SignalMessage(self.path, REQUEST, 'Response')
            response.append(dbus.UInt32(code), dbus.Dictionary(results, signature='sv'), signature='ua{sv}')
            if send_first:
                with unpreempted():
                    self.portal.bus.send_message(send_first)
                    self.portal.bus.send_message(response)
            else:
                self.portal.bus.send_message(response)
            self.unexport()
            if after:
                after(code)
            return False
        if self.portal.delay_ms > 0:
            self.portal.bus.send_message(reply)
            self.source = GLib.timeout_add(self.portal.delay_ms, fire)
        else:
            fire(send_first=reply)

    def unexport(self):
        if self.source is not None:
            GLib.source_remove(self.source)
            self.source = None
        if self.portal.requests.pop(self.path, None) is not None:
            self.remove_from_connection()

    @dbus.service.method(REQUEST, sender_keyword='sender')
    def Close(self, sender=None):
        # An abandoned request never answers.
        if sender == self.sender:
            self.portal.record('Request.Close', sender, handle=self.path)
            self.unexport()

    @dbus.service.signal(REQUEST, signature='ua{sv}')
    def Response(self, code, results):
        pass


class Session(PropertyObject):
    INIT, SELECTING, SELECTED, STARTING, STARTED, CLOSED = range(6)

    def __init__(self, portal, path, sender):
        super().__init__(portal.bus, path)
        self.portal, self.path, self.sender = portal, path, sender
        self.state = Session.INIT
        self.persist_mode = 0
        self.restored = False
        self.cursor_mode = CURSOR_HIDDEN
        self.streams = []
        self.cast = None
        portal.sessions[path] = self

    def properties(self):
        return {SESSION: {'version': dbus.UInt32(1)}}

    def close(self, notify):
        if self.state == Session.CLOSED:
            return
        self.state = Session.CLOSED
        self.portal.sessions.pop(self.path, None)
        if self.cast:
            self.cast.stop()
        if notify:
            self.Closed(dbus.Dictionary({}, signature='sv'))
        self.remove_from_connection()

    @dbus.service.method(SESSION, sender_keyword='sender')
    def Close(self, sender=None):
        if sender != self.sender:
            raise AccessDenied('Invalid session')
        self.portal.record('Session.Close', sender, session=self.path)
        # The client asked for it, so it is not told.
        self.close(notify=False)

    @dbus.service.signal(SESSION, signature='a{sv}')
    def Closed(self, details):
        pass


class ShortcutsPortal(PropertyObject):
    """GlobalShortcuts: sessions of their own, and a binding the user may never confirm. A base of the
    portal object, as dbus-python finds a member by its Python name: CreateSession is ScreenCast's too."""


    @dbus.service.method(SHORTCUTS, in_signature='a{sv}', out_signature='o', sender_keyword='sender',
                         async_callbacks=('_reply', '_error'), message_keyword='call')
    def CreateSession(self, options, sender=None, call=None, _reply=None, _error=None):
        self.record('GlobalShortcuts.CreateSession', sender, options=options)
        session_path = (f'{DESKTOP_PATH}/session/{sender_element(sender)}/'
                        f'{self.token(options, "session_handle_token")}')
        request = self.new_request(sender, options)
        session = Session(self, session_path, sender)
        self.watch(sender)
        request.answer(call, lambda: (0, {'session_handle': dbus.String(session.path)}))

    @dbus.service.method(SHORTCUTS, in_signature='oa(sa{sv})sa{sv}', out_signature='o',
                         sender_keyword='sender', async_callbacks=('_reply', '_error'), message_keyword='call')
    def BindShortcuts(self, session_handle, shortcuts, parent_window, options, sender=None, call=None,
                      _reply=None, _error=None):
        self.record('BindShortcuts', sender, session=session_handle, shortcuts=shortcuts)
        self.session_of(session_handle, sender)
        request = self.new_request(sender, options)
        if self.bind_shortcuts:
            request.answer(call, lambda: (0, {'shortcuts': dbus.Array([], signature='(sa{sv})')}))
        else:
            # The confirmation dialog stays open until the client closes the request.
            reply = dbus.lowlevel.MethodReturnMessage(call)
            reply.append(dbus.ObjectPath(request.path), signature='o')
            self.bus.send_message(reply)



class Portal(ShortcutsPortal):
    def __init__(self, bus, args):
        super().__init__(bus, DESKTOP_PATH)
        self.bus, self.args = bus, args
        self.delay_ms = args.response_delay_ms
        self.start_response = args.start_response
        self.bind_shortcuts = True
        self.hold_start = False
        self.requests, self.sessions = {}, {}
        self.calls = []
        self.counter = itertools.count(1)
        self.valid_tokens = set()
        self.watches = {}
        self.call_log = open(args.calls_log, 'a', buffering=1) if args.calls_log else None

    def properties(self):
        return {SCREENCAST: {
            'AvailableSourceTypes': dbus.UInt32(self.args.source_types),
            'AvailableCursorModes': dbus.UInt32(self.args.cursor_modes),
            'version': dbus.UInt32(4),
        }, SHORTCUTS: {
            'version': dbus.UInt32(1),
        }}

    def record(self, method, sender, **fields):
        entry = {'method': method, 'sender': sender, **{k: plain(v) for k, v in fields.items()}}
        self.calls.append(entry)
        if self.call_log:
            self.call_log.write(json.dumps(entry) + '\n')
        log(json.dumps(entry))

    def token(self, options, key):
        token = str(options.get(key, f't{next(self.counter)}'))
        # The real portal refuses what is not an object path element ('-' included).
        if not re.fullmatch(r'[A-Za-z0-9_]+', token):
            raise InvalidArgument(f'Invalid token: {token}')
        return token

    def new_request(self, sender, options):
        path = f'{DESKTOP_PATH}/request/{sender_element(sender)}/{self.token(options, "handle_token")}'
        if path in self.requests:
            raise Failed(f'Request {path} is still pending')
        return Request(self, path, sender)

    def session_of(self, handle, sender):
        session = self.sessions.get(str(handle))
        if session is None or session.sender != sender:
            raise AccessDenied('Invalid session')
        return session

    def watch(self, sender):
        # A client that leaves the bus loses its sessions, silently.
        def owner_changed(owner):
            if owner == '':
                self.watches.pop(sender).cancel()
                for session in [s for s in self.sessions.values() if s.sender == sender]:
                    session.close(notify=False)
        if sender not in self.watches:
            self.watches[sender] = self.bus.watch_name_owner(sender, owner_changed)

    @dbus.service.method(SCREENCAST, in_signature='a{sv}', out_signature='o', sender_keyword='sender',
                         async_callbacks=('_reply', '_error'), message_keyword='call')
    def CreateSession(self, options, sender=None, call=None, _reply=None, _error=None):
        self.record('CreateSession', sender, options=options)
        session_path = (f'{DESKTOP_PATH}/session/{sender_element(sender)}/'
                        f'{self.token(options, "session_handle_token")}')
        if session_path in self.sessions:
            raise Failed(f'Session {session_path} exists')
        request = self.new_request(sender, options)
        session = Session(self, session_path, sender)
        self.watch(sender)
        request.answer(call, lambda: (0, {'session_handle': dbus.String(session.path)}))

    @dbus.service.method(SCREENCAST, in_signature='oa{sv}', out_signature='o', sender_keyword='sender',
                         async_callbacks=('_reply', '_error'), message_keyword='call')
    def SelectSources(self, session_handle, options, sender=None, call=None, _reply=None, _error=None):
        self.record('SelectSources', sender, session=session_handle, options=options)
        session = self.session_of(session_handle, sender)
        if session.state != Session.INIT:
            raise Failed('Sources already selected' if session.state < Session.STARTING
                         else 'Can only select sources before starting')
        self.check_select_options(options)
        request = self.new_request(sender, options)
        session.persist_mode = int(options.get('persist_mode', 0))
        session.cursor_mode = int(options.get('cursor_mode', CURSOR_HIDDEN))
        token = options.get('restore_token')
        # Single use: a token that restored a session is spent.
        session.restored = token is not None and str(token) in self.valid_tokens
        self.valid_tokens.discard(str(token))
        session.state = Session.SELECTING

        def done():
            if session.state == Session.SELECTING:
                session.state = Session.SELECTED
            return 0, {}
        request.answer(call, done)

    def check_select_options(self, options):
        types = {'types': dbus.UInt32, 'multiple': dbus.Boolean, 'cursor_mode': dbus.UInt32,
                 'restore_token': dbus.String, 'persist_mode': dbus.UInt32}
        for key, kind in types.items():
            if key in options and not isinstance(options[key], kind):
                raise InvalidArgument(f'Wrong type for {key}')
        if int(options.get('types', 0)) & ~7:
            raise InvalidArgument(f'Unsupported source type: {int(options["types"]):x}')
        if 'cursor_mode' in options:
            mode = int(options['cursor_mode'])
            if bin(mode).count('1') != 1:
                raise InvalidArgument(f'Invalid cursor mode {mode:x}')
            if not mode & self.args.cursor_modes:
                raise InvalidArgument(f'Unavailable cursor mode {mode:x}')
        if int(options.get('persist_mode', 0)) > 2:
            raise InvalidArgument(f'Invalid persist mode {int(options["persist_mode"])}')
        if 'restore_token' in options:
            try:
                uuid.UUID(str(options['restore_token']))
            except ValueError:
                raise InvalidArgument('Restore token is not a valid UUID string') from None

    @dbus.service.method(SCREENCAST, in_signature='osa{sv}', out_signature='o', sender_keyword='sender',
                         async_callbacks=('_reply', '_error'), message_keyword='call')
    def Start(self, session_handle, parent_window, options, sender=None, call=None, _reply=None, _error=None):
        self.record('Start', sender, session=session_handle, parent_window=parent_window,
                    options=options, response=self.start_response)
        session = self.session_of(session_handle, sender)
        if session.state in (Session.INIT, Session.SELECTING):
            raise Failed('Sources not selected')
        if session.state != Session.SELECTED:
            raise Failed('Can only start once')
        request = self.new_request(sender, options)
        session.state = Session.STARTING

        def answer(node, results):
            code = self.start_response or (0 if node is not None else RESPONSE_OTHER)

            def done():
                nonlocal code, results
                if session.state != Session.STARTING:
                    code, results = RESPONSE_OTHER, {}
                self.record('Start.Response', sender, session=session.path, code=code,
                            restored=session.restored, results=results)
                if code == 0:
                    session.state, session.streams = Session.STARTED, [node]
                return code, results

            def after(code):
                # A refused or failed start ends the session, and the client hears of it.
                if code != 0:
                    session.close(notify=True)
            if self.hold_start:
                # The dialog stays open until the client closes the request.
                reply = dbus.lowlevel.MethodReturnMessage(call)
                reply.append(dbus.ObjectPath(request.path), signature='o')
                self.bus.send_message(reply)
                return
            request.answer(call, done, after)

        if self.start_response != 0:
            answer(None, {})
        elif self.args.mutter:
            # Mutter names the node only once its stream is up; the reply waits for that, so the
            # Response still follows right behind it.
            session.cast = MutterCast(self.bus, session.cursor_mode, lambda: session.close(notify=True))
            session.cast.start(
                lambda node, size: answer(node, self.start_results(session, node, self.args.size or size)))
        else:
            # Looked up before replying, so that nothing slow stands between the reply and the Response.
            node, size = self.named_node()
            answer(node, self.start_results(session, node, size))

    def named_node(self):
        """(id, size) of the node named on the command line, or (None, None)."""
        found = find_node(self.args.node_name)
        if found is None:
            log(f'no PipeWire node named {self.args.node_name}')
            return None, None
        node_id, size = found
        size = self.args.size or size
        if size is None:
            log(f'node {node_id} has no fixed size and none was given')
            return None, None
        return node_id, size

    def start_results(self, session, node_id, size):
        """Start's results for sharing this node, or {} when there is none."""
        if node_id is None:
            return {}
        props = dbus.Dictionary({
            'id': dbus.String('0'),
            'size': dbus.Struct((dbus.Int32(size[0]), dbus.Int32(size[1])), signature='ii'),
            'position': dbus.Struct((dbus.Int32(0), dbus.Int32(0)), signature='ii'),
            'source_type': dbus.UInt32(SOURCE_MONITOR),
        }, signature='sv')
        results = {'streams': dbus.Array([dbus.Struct((dbus.UInt32(node_id), props), signature='ua{sv}')],
                                         signature='(ua{sv})')}
        if session.persist_mode:
            token = str(uuid.uuid4())
            self.valid_tokens.add(token)
            results['restore_token'] = dbus.String(token)
        return results

    @dbus.service.method(SCREENCAST, in_signature='oa{sv}', out_signature='h', sender_keyword='sender')
    def OpenPipeWireRemote(self, session_handle, options, sender=None):
        self.record('OpenPipeWireRemote', sender, session=session_handle, options=options)
        session = self.session_of(session_handle, sender)
        if session.state != Session.STARTED or not session.streams:
            raise Failed('No streams available')
        path = self.args.pipewire_socket
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as remote:
            try:
                remote.connect(path)
            except OSError as error:
                raise Failed(f'Cannot connect to {path}: {error.strerror}') from None
            # UnixFd holds its own duplicate; ours closes with the block.
            return dbus.types.UnixFd(remote)

    # Controls for tests.

    @dbus.service.method(CONTROL, in_signature='b')
    def SetHoldStart(self, hold):
        """True leaves every later Start unanswered, as a share dialog nobody answers would."""
        self.hold_start = bool(hold)

    @dbus.service.method(CONTROL, in_signature='b')
    def SetBindShortcuts(self, answer):
        """False leaves every later BindShortcuts unanswered, as a dialog nobody confirms would."""
        self.bind_shortcuts = bool(answer)

    @dbus.service.method(CONTROL)
    def CloseSessions(self):
        """Close every session as the desktop does when the user stops sharing."""
        for session in list(self.sessions.values()):
            session.close(notify=True)

    @dbus.service.method(CONTROL, in_signature='u')
    def SetStartResponse(self, code):
        self.start_response = int(code)

    @dbus.service.method(CONTROL, in_signature='u')
    def SetResponseDelay(self, milliseconds):
        """Holds every later Response back, as a dialog the user takes time over would."""
        self.delay_ms = int(milliseconds)

    @dbus.service.method(CONTROL, out_signature='s')
    def Calls(self):
        return json.dumps(self.calls)

    @dbus.service.method(CONTROL, out_signature='ao')
    def Sessions(self):
        """Handles of the sessions still open, whoever owns them."""
        return dbus.Array(sorted(self.sessions), signature='o')


def parse_size(text):
    match = re.fullmatch(r'(\d+)x(\d+)', text)
    if not match:
        raise argparse.ArgumentTypeError(f'expected WIDTHxHEIGHT, got {text!r}')
    return int(match[1]), int(match[2])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument('--node-name', help='node.name of the PipeWire node to share')
    source.add_argument('--mutter', action='store_true',
                        help="share mutter's primary monitor through org.gnome.Mutter.ScreenCast")
    parser.add_argument('--size', type=parse_size,
                        help="stream size, WxH; default: the node's format (with --mutter: the monitor's)")
    parser.add_argument('--cursor-modes', type=int, default=CURSOR_EMBEDDED | CURSOR_METADATA,
                        help='AvailableCursorModes: 1 hidden, 2 embedded, 4 metadata (default 6)')
    parser.add_argument('--source-types', type=int, default=SOURCE_MONITOR, help='AvailableSourceTypes')
    parser.add_argument('--start-response', type=int, default=0, choices=(0, 1, 2),
                        help='code every Start answers with: 0 success, 1 cancelled, 2 other')
    parser.add_argument('--response-delay-ms', type=int, default=0,
                        help='delay of each Response after its reply; 0 (default) sends it right behind')
    parser.add_argument('--calls-log', help='append every call to this file as a JSON line')
    parser.add_argument('--pipewire-socket',
                        default=os.path.join(os.environ.get('XDG_RUNTIME_DIR', '/nonexistent'), 'pipewire-0'))
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus, args)
    reply = bus.request_name(BUS_NAME, dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
    if reply not in (dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER, dbus.bus.REQUEST_NAME_REPLY_ALREADY_OWNER):
        log(f'{BUS_NAME} is taken')
        return 1
    loop = GLib.MainLoop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_HIGH, signum, lambda: loop.quit() or False)
    log(f"serving {'mutter' if args.mutter else 'node ' + args.node_name} as {BUS_NAME}")
    loop.run()
    return 0


if __name__ == '__main__':
    sys.exit(main())
