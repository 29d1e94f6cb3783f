#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# An MQTT client for the tests that nobody here wrote: paho-mqtt (1.6, its
# classic API). Reads one JSON command per line on stdin:
#   {"sub": FILTER}   {"pub": TOPIC, "payload": TEXT, "retain": BOOL, "count": N, "size": N}
#   (count: N at once, QoS 0; size: a payload of N bytes instead)
# and prints one JSON object per line on stdout:
#   {"connected": RC}   {"subscribed": FILTER}
#   {"topic": T, "payload": TEXT, "retain": BOOL}
# Usage: mqtt_peer.py PORT USER PASSWORD
import json
import sys

import paho.mqtt.client as mqtt

port, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]


def say(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


def on_connect(client, userdata, flags, rc):
    say({"connected": rc})


def on_message(client, userdata, message):
    say({"topic": message.topic, "payload": message.payload.decode("utf-8", "replace"),
         "retain": bool(message.retain)})


pending = {}


def on_subscribe(client, userdata, mid, granted_qos):
    say({"subscribed": pending.pop(mid, "")})


client = mqtt.Client()
client.username_pw_set(user, password)
client.on_connect = on_connect
client.on_message = on_message
client.on_subscribe = on_subscribe
client.connect("127.0.0.1", port, keepalive=30)
client.loop_start()
for line in sys.stdin:
    command = json.loads(line)
    if "sub" in command:
        rc, mid = client.subscribe(command["sub"], qos=1)
        pending[mid] = command["sub"]
    elif "pub" in command:
        payload = b"x" * command["size"] if command.get("size") else command.get("payload", "")
        count = command.get("count", 1)
        sent = [client.publish(command["pub"], payload, qos=1 if count == 1 else 0,
                               retain=command.get("retain", False)) for _ in range(count)]
        for info in sent:
            info.wait_for_publish()
        say({"published": command["pub"]})
client.loop_stop()
