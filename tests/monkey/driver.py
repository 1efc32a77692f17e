"""The driver: an X server of its own with openbox, the real corvex in a fresh HOME, its
observation channel, and the X server's own pointer and keyboard through xdotool."""

import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

SCREEN = '1600x1000x24'


class Hang(Exception):
    """The main thread did not answer a ping in time."""


class Gone(Exception):
    """Corvex is not running when it should be."""


def run(args, env=None, timeout=30):
    return subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=timeout, check=False).stdout.decode(errors='replace')


class Desktop:
    """Xvfb and openbox, and the user's folders, for one monkey run."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.home = os.path.join(scratch, 'home')
        self.env = dict(os.environ)
        self.env.pop('QT_QPA_PLATFORM', None)
        runtime = os.path.join(scratch, 'runtime')
        for folder in (self.home, runtime):
            os.makedirs(folder, mode=0o700, exist_ok=True)
        self.env.update(HOME=self.home, XDG_DATA_HOME=os.path.join(self.home, '.local/share'),
                        XDG_CONFIG_HOME=os.path.join(self.home, '.config'),
                        XDG_CACHE_HOME=os.path.join(self.home, '.cache'), XDG_RUNTIME_DIR=runtime,
                        CORVEX_NET_LOOPBACK_ONLY='1', LANG='en_GB.UTF-8')
        # The data folder can be made full (fullshim.c, through LD_PRELOAD).
        self.full_flag = os.path.join(scratch, 'data-folder-full')
        shim = os.path.join(scratch, 'fullshim.so')
        subprocess.run(['cc', '-shared', '-fPIC', '-O1', '-o', shim,
                        os.path.join(os.path.dirname(os.path.abspath(__file__)), 'fullshim.c'), '-ldl'], check=True)
        self.corvex_env = dict(self.env, LD_PRELOAD=shim, MONKEY_FULL_FLAG=self.full_flag,
                               MONKEY_FULL_FOLDER=os.path.join(self.env['XDG_DATA_HOME'], 'com.tallowfen.corvex'))
        self.other = None
        self.files = os.path.join(self.home, 'Documents')
        os.makedirs(self.files, exist_ok=True)
        # The iCloud location: a container folder of the run's own, chosen in the defaults as a
        # user does in the preferences (a fresh start then opens its home screen).
        self.cloud = os.path.join(scratch, 'icloud')
        os.makedirs(os.path.join(self.cloud, 'Documents'), exist_ok=True)
        self.corvex_env['CORVEX_CLOUD_CONTAINER'] = self.cloud
        defaults = os.path.join(self.env['XDG_CONFIG_HOME'], 'com.tallowfen.corvex', 'defaults.json')
        os.makedirs(os.path.dirname(defaults), exist_ok=True)
        with open(defaults, 'w') as stream:
            json.dump({'cloudstoragechoice': True}, stream)
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', SCREEN, '-nolisten', 'tcp'],
                                     pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b''
        while not number.endswith(b'\n'):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError('Xvfb did not start')
            number += chunk
        os.close(read)
        self.env['DISPLAY'] = self.corvex_env['DISPLAY'] = ':' + number.decode().strip()
        self.openbox = subprocess.Popen(['openbox', '--sm-disable'], env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline and 'Openbox' not in run(['xprop', '-root', '_NET_WM_NAME'], self.env):
            time.sleep(0.1)

    def foreign(self):
        """Another program's small window below the tiled Corvex windows (xmessage), started
        at the first need; the point a click on it lands."""
        if self.other is None or self.other.poll() is not None:
            self.other = subprocess.Popen(['xmessage', '-geometry', '300x30+1250+948', '-buttons', '',
                                           'another program'], env=self.env, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
            time.sleep(0.8)
        return (1400, 985)

    def close(self):
        if self.other is not None and self.other.poll() is None:
            self.other.kill()
            self.other.wait()
        for process in (self.openbox, self.xvfb):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    # ---- the X server's own input ----
    def xdotool(self, *args):
        return run(['xdotool'] + [str(a) for a in args], self.env)

    def move(self, x, y):
        self.xdotool('mousemove', int(x), int(y))

    def click(self, x, y, button=1, count=1):
        self.xdotool('mousemove', int(x), int(y), 'sleep', '0.05', 'click', '--repeat', count, '--delay', 90, button)

    def key(self, chord):
        self.xdotool('key', '--delay', 60, chord)

    def type(self, text):
        self.xdotool('type', '--delay', 30, text)

    def drag(self, start, end):
        """Press, move in steps as a hand does, hold, release."""
        steps = ['mousemove', int(start[0]), int(start[1]), 'sleep', '0.1', 'mousedown', '1', 'sleep', '0.2']
        for i in range(1, 13):
            x = start[0] + (end[0] - start[0]) * i / 12
            y = start[1] + (end[1] - start[1]) * i / 12
            steps += ['mousemove', int(x), int(y), 'sleep', '0.06']
        steps += ['sleep', '0.4', 'mouseup', '1']
        self.xdotool(*steps)


class Corvex:
    """One run of the corvex binary with its observation channel."""

    def __init__(self, desktop, binary, log):
        self.desktop = desktop
        self.socket_path = os.path.join(desktop.scratch, 'observe.sock')
        env = dict(desktop.corvex_env, CORVEX_OBSERVE_SOCKET=self.socket_path)
        if os.path.exists(self.socket_path):
            os.unlink(self.socket_path)
        self.log = open(log, 'ab')
        self.process = subprocess.Popen([binary], env=env, stdout=self.log, stderr=self.log,
                                        cwd=desktop.home)
        self.channel = None

    def alive(self):
        return self.process.poll() is None

    def connect(self, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if not self.alive():
                raise Gone('corvex ended while starting (%s)' % self.describe_end())
            try:
                channel = socket.socket(socket.AF_UNIX)
                channel.connect(self.socket_path)
                self.channel = channel
                self.reader = channel.makefile('rb')
                return
            except OSError:
                time.sleep(0.1)
        raise Hang('the observation channel did not open within %d s' % seconds)

    def ask(self, op, seconds):
        if self.channel is None:
            self.connect()
        self.channel.settimeout(seconds)
        try:
            self.channel.sendall((json.dumps({'op': op}) + '\n').encode())
            line = self.reader.readline()
        except socket.timeout:
            raise Hang('no answer to "%s" within %g s' % (op, seconds))
        except OSError as error:
            raise Gone('the channel broke (%s); %s' % (error, self.describe_end()))
        if not line:
            raise Gone('the channel closed; %s' % self.describe_end())
        return json.loads(line)

    def describe_end(self):
        code = self.process.poll()
        if code is None:
            return 'still running'
        return 'killed by signal %d' % -code if code < 0 else 'exit status %d' % code

    def wait_end(self, seconds):
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.alive():
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()
        self.disconnect()

    def disconnect(self):
        if self.channel is not None:
            self.channel.close()
            self.channel = None
