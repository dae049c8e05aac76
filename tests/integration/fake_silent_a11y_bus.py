#!/usr/bin/python3
"""A stand-in for a hung accessibility bus launcher: it owns org.a11y.Bus on the session bus and never
reads a message, so every call to it waits for its caller's time-out. Prints "ready" once it owns the name."""

import signal

import dbus

if __name__ == "__main__":
    bus = dbus.SessionBus()
    bus.request_name("org.a11y.Bus", dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
    print("ready", flush=True)
    while True:
        signal.pause()  # no main loop: nothing is dispatched, nothing answered
