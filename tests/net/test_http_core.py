"""The HTTP core against local peers: what goes on the wire and how each failure ends."""
import base64
import time

import pytest

from fakes.peer import Answer, Endless, Peer, ResetMidBody, Silence, always
from faults.stand_ins import MuteListener



def test_headers_go_out_as_given_in_order_after_host(probe):
    given = [["User-Agent", "Mozilla/5.0 (X11)"], ["Accept", "application/json, text/plain, */*"],
             ["Accept-Encoding", "gzip, deflate, br, zstd"], ["Content-Type", "application/json"],
             ["Connection", "keep-alive"], ["TE", "trailers"], ["x-user-id", "abc"]]
    with Peer(always(Answer(body="{}"))) as peer:
        outcome = probe(method="POST", url=peer.url + "/login", headers=given, body='{"a": 1}')
    assert outcome["status"] == 200
    request = peer.requests[0]
    assert request.method == "POST" and request.target == "/login"
    assert request.headers == [("Host", f"127.0.0.1:{peer.port}")] + [tuple(h) for h in given] + [("Content-Length", "8")]
    assert request.body == b'{"a": 1}'


def test_a_body_in_pieces_goes_out_whole_and_again_after_a_redirect(probe):
    parts = ["a" * 40000, "", "é" * 3, "z\n" * 20000]
    def handler(request):
        return Answer(status=307, headers=[("Location", "/again")]) if request.path == "/first" else Answer(body="{}")
    with Peer(handler) as peer:
        assert probe(method="POST", url=peer.url + "/first", parts=parts)["status"] == 200
    whole = "".join(parts).encode()
    assert [(r.path, r.header("Content-Length"), r.body) for r in peer.requests] == [
        ("/first", str(len(whole)), whole), ("/again", str(len(whole)), whole)]


def test_get_without_headers_of_its_own_sends_only_the_client_defaults(probe):
    with Peer(always(Answer(body="{}"))) as peer:
        probe(url=peer.url + "/exec")
    names = peer.requests[0].header_names()
    assert names == ["Host", "User-Agent", "Accept", "Accept-Encoding"]
    assert peer.requests[0].header("User-Agent") == "coletor-pppoe/1.0.4"


def test_query_parameters_are_encoded_in_order_and_basic_credentials_go_with_the_request(probe):
    statement = "\n  CREATE TABLE 'x' (a INT);  \n  é & ; = + ?"
    with Peer(always(Answer(status=401, body="not json", content_type="text/plain"))) as peer:
        outcome = probe(url=peer.url + "/exec", query=[["query", statement], ["fmt", "json"]],
                        basic=["admin", "p@ss:;word"])
    assert outcome["status"] == 401 and outcome["body"] == b"not json"
    request = peer.requests[0]
    assert request.query == [("query", statement), ("fmt", "json")]
    assert request.header("Authorization") == "Basic " + base64.b64encode(b"admin:p@ss:;word").decode()
    assert len(peer.requests) == 1  # no challenge round trip


@pytest.mark.parametrize("encoding", ["gzip", "deflate", "br", "zstd"])
def test_each_content_encoding_is_undone(probe, encoding):
    body = '{"token": "' + "ç" * 3000 + '"}'
    with Peer(always(Answer(body=body, encoding=encoding))) as peer:
        outcome = probe(url=peer.url + "/x")
    assert outcome["body"] == body.encode()


def test_redirects_are_followed_over_http_and_https_only(probe):
    def handler(request):
        if request.path == "/old":
            return Answer(status=302, headers=[("Location", "/new")])
        if request.path == "/loop":
            return Answer(status=302, headers=[("Location", "/loop")])
        if request.path == "/ftp":
            return Answer(status=302, headers=[("Location", "ftp://127.0.0.1/x")])
        return Answer(body='{"ok": true}')
    with Peer(handler) as peer:
        assert probe(url=peer.url + "/old")["body"] == b'{"ok": true}'
        loop = probe(url=peer.url + "/loop")
        ftp = probe(url=peer.url + "/ftp")
        kept = probe(url=peer.url + "/old", follow=False)
    assert loop["error"] == "RequestException" and "redirect" in loop["message"].lower()
    assert ftp["error"] == "RequestException"
    # a caller that follows none gets the 3xx itself, with where it points
    assert (kept["status"], kept["location"]) == (302, peer.url + "/new") and peer.requests[-1].path == "/old"


def test_the_idle_time_out_ends_a_silent_exchange_on_time(probe):
    with Peer(always(Silence(10))) as peer:
        start = time.monotonic()
        outcome = probe(method="POST", url=peer.url + "/api_jsonrpc.php", body="{}", idle_ms=1000)
        took = time.monotonic() - start
    assert outcome["error"] == "RequestException"
    assert outcome["message"].startswith("Operation timed out after ") and outcome["transient"] is True
    assert 0.9 <= took < 2.5


# A connect bound that ends with the deadline: libcurl's time-out is the run's all the same.
@pytest.mark.parametrize("peer_kind, bounds", [
    ("silent", {}), ("no-tls-handshake", {}), ("no-tls-handshake", {"connect_ms": 1000}),
])
def test_the_run_deadline_ends_an_exchange_without_a_time_out_of_its_own(probe, peer_kind, bounds):
    peer = Peer(always(Silence(10))) if peer_kind == "silent" else MuteListener()
    with peer:
        url = peer.url if peer_kind == "silent" else f"https://{peer.host}:{peer.port}"
        start = time.monotonic()
        outcome = probe(url=url + "/acessos", deadline_s=1, **bounds)
        took = time.monotonic() - start
    assert outcome == {"error": "TimeoutException", "message": "Tempo limite de execução atingido (1 s): execução interrompida."}
    assert 0.9 <= took < 2.5


# Transient: the same request may succeed on a new connection.
@pytest.mark.parametrize("url, words, transient", [
    ("127.0.0.1:1/x", "URL using bad/illegal format or missing URL", False),
    ("ftp://127.0.0.1/x", "Protocol", False),
    ("http://127.0.0.1:1/x", "Couldn't connect to server", True),
    ("http:///exec", "URL", False),
])
def test_transport_failures_carry_libcurls_description(probe, url, words, transient):
    outcome = probe(url=url)
    assert outcome["error"] == "RequestException"
    assert words in outcome["message"] and outcome["transient"] == transient


def test_a_reset_in_the_middle_of_the_body_is_a_request_failure_that_may_pass(probe):
    with Peer(always(ResetMidBody())) as peer:
        assert probe(url=peer.url + "/x")["transient"] is True


def test_an_endless_answer_stops_at_the_body_ceiling(probe):
    with Peer(always(Endless())) as peer:
        outcome = probe(url=peer.url + "/x")
    assert outcome == {"error": "RequestException", "transient": False,
                       "message": "Response body larger than the limit of 67108864 bytes"}


def test_a_line_break_in_a_header_value_is_refused_before_sending(probe):
    with Peer(always(Answer())) as peer:
        outcome = probe(url=peer.url + "/x", headers=[["Authorization", "Bearer x\r\nX-Injected: 1"]])
    assert outcome["error"] == "RequestException"
    assert peer.requests == []


@pytest.mark.parametrize("leaf, trusted", [
    ("server", True), ("unknown-ca", False), ("other-host", False), ("expired", False),
])
def test_tls_certificates_are_verified(probe, pki, leaf, trusted):
    with Peer(always(Answer(body="{}")), cert=str(pki / f"{leaf}.pem"), key=str(pki / f"{leaf}.key")) as peer:
        outcome = probe(url=peer.url + "/login")
    assert ("status" in outcome) == trusted, outcome
    assert trusted or outcome["transient"] is False


def test_a_bundle_that_cannot_be_read_fails_each_handshake_and_says_which(probe, pki, tmp_path):
    (tmp_path / "empty.pem").write_text("")
    with Peer(always(Answer(body="{}")), cert=str(pki / "server.pem"), key=str(pki / "server.key")) as peer:
        for bundle in (tmp_path / "missing.pem", tmp_path / "empty.pem"):
            outcome = probe(url=peer.url + "/login", ca=str(bundle))
            assert outcome["error"] == "RequestException" and outcome["transient"] is False
            assert outcome["message"].startswith(f"error setting certificate verify locations:  CAfile: {bundle} CApath: none")
            # The system's reason tells a missing bundle from an unreadable one.
            assert outcome["message"].endswith("system lib: No such file or directory)") == (bundle.name == "missing.pem")
        plain = probe(url=peer.url.replace("https", "http") + "/login", ca=str(tmp_path / "missing.pem"))
    assert peer.requests == [] and plain["error"] == "RequestException"


def test_the_system_store_does_not_trust_the_test_authority(probe, pki):
    with Peer(always(Answer(body="{}")), cert=str(pki / "server.pem"), key=str(pki / "server.key")) as peer:
        outcome = probe(url=peer.url + "/login", ca="")
    assert outcome["error"] == "RequestException"
