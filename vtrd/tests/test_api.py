"""vtrd's API and WebSockets without a browser."""
import json
import urllib.error
import urllib.request


def post(rig, path, body=None, method="POST", client="tester", token=None, origin=None):
    headers = {"Content-Type": "application/json"}
    if client:
        headers["X-Vtrd-Client"] = client
    token = rig.token if token is None else token
    if token:
        headers["Authorization"] = f"Bearer {token}"
    if origin:
        headers["Origin"] = origin
    data = json.dumps(body).encode() if body is not None else None
    req = urllib.request.Request(rig.url + path, data=data, method=method, headers=headers)
    try:
        with urllib.request.urlopen(req, timeout=60) as r:
            return r.status, json.loads(r.read())
    except urllib.error.HTTPError as e:
        return e.code, json.loads(e.read())
