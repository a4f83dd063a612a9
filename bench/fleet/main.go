// A loopback fleet for the benchmark: the registry (HTTPS), one Zabbix stand-in per
// customer (HTTP and HTTPS, each answer after a fixed latency), a QuestDB that accepts
// /exec and /write at once, and a control port that sets the list and reads the
// stand-ins' own view of the pool phase and their own CPU time.
package main

import (
	"bytes"
	"crypto/tls"
	"encoding/json"
	"flag"
	"fmt"
	"io"
	"log"
	"net"
	"net/http"
	"strconv"
	"sync"
	"sync/atomic"
	"syscall"
	"time"
)

var (
	start   = time.Now()
	latency time.Duration
	rtt     time.Duration

	// Stand-ins' view of the pool phase: first Zabbix connection accepted, last logout sent.
	firstAccept atomic.Int64
	lastLogout  atomic.Int64
	logins      atomic.Int64
	items       atomic.Int64
	logouts     atomic.Int64
	others      atomic.Int64
	zbxConns    atomic.Int64
	activeNow   atomic.Int64
	activeMax   atomic.Int64

	listMu   sync.RWMutex
	listBody = []byte("[]")
)

func now() int64 { return int64(time.Since(start)) }

func minStore(v *atomic.Int64, x int64) {
	for {
		old := v.Load()
		if old != 0 && old <= x {
			return
		}
		if v.CompareAndSwap(old, x) {
			return
		}
	}
}

func maxStore(v *atomic.Int64, x int64) {
	for {
		old := v.Load()
		if old >= x {
			return
		}
		if v.CompareAndSwap(old, x) {
			return
		}
	}
}

var (
	loginAnswer  = []byte(`{"jsonrpc":"2.0","result":"0424bd59b807674191e7d77572075f33","id":1}`)
	itemAnswer   = []byte(`{"jsonrpc":"2.0","result":[{"itemid":"45501","name":"PPPoE total","lastvalue":"1234"}],"id":1}`)
	logoutAnswer = []byte(`{"jsonrpc":"2.0","result":true,"id":1}`)
	errorAnswer  = []byte(`{"jsonrpc":"2.0","error":{"code":-32602,"message":"Invalid params.","data":"Not authorized."},"id":1}`)
)

func zabbix(w http.ResponseWriter, r *http.Request) {
	corpo, err := io.ReadAll(r.Body)
	if err != nil {
		return
	}
	time.Sleep(latency)
	var answer []byte
	isLogout := false
	switch {
	case bytes.Contains(corpo, []byte(`"method": "user.login"`)):
		logins.Add(1)
		answer = loginAnswer
	case bytes.Contains(corpo, []byte(`"method": "item.get"`)):
		items.Add(1)
		answer = itemAnswer
	case bytes.Contains(corpo, []byte(`"method": "user.logout"`)):
		logouts.Add(1)
		answer = logoutAnswer
		isLogout = true
	default:
		others.Add(1)
		answer = errorAnswer
	}
	h := w.Header()
	h.Set("Content-Type", "application/json")
	h.Set("Content-Length", strconv.Itoa(len(answer)))
	w.Write(answer)
	if isLogout {
		w.(http.Flusher).Flush()
		maxStore(&lastLogout, now())
	}
}

func trackConns(c net.Conn, s http.ConnState) {
	switch s {
	case http.StateNew:
		minStore(&firstAccept, now())
		zbxConns.Add(1)
		maxStore(&activeMax, activeNow.Add(1))
	case http.StateClosed, http.StateHijacked:
		activeNow.Add(-1)
	}
}

func registry(w http.ResponseWriter, r *http.Request) {
	switch r.URL.Path {
	case "/api/login":
		io.Copy(io.Discard, r.Body)
		w.Header().Set("Content-Type", "application/json")
		w.Write([]byte(`{"token": "tok-bench", "nome": "coletor"}`))
	case "/api/acessos":
		if r.Header.Get("Authorization") != "Bearer tok-bench" {
			w.WriteHeader(401)
			w.Write([]byte(`{"erro": "token inválido"}`))
			return
		}
		listMu.RLock()
		b := listBody
		listMu.RUnlock()
		w.Header().Set("Content-Type", "application/json")
		w.Header().Set("Content-Length", strconv.Itoa(len(b)))
		w.Write(b)
	default:
		w.WriteHeader(404)
		w.Write([]byte("{}"))
	}
}

func questdbExec(w http.ResponseWriter, r *http.Request) {
	w.Header().Set("Content-Type", "application/json")
	q := r.URL.Query().Get("query")
	if bytes.HasPrefix([]byte(q), []byte("SHOW COLUMNS")) {
		fmt.Fprintf(w, `{"query":%q,"columns":[],"dataset":[],"count":7}`, q)
		return
	}
	w.Write([]byte(`{"ddl":"OK"}`))
}

func questdbWrite(w http.ResponseWriter, r *http.Request) {
	io.Copy(io.Discard, r.Body)
	w.WriteHeader(204)
}

// makeList builds the registry's document: n customers whose Zabbix links point at
// base + "/z/<i>"; with base empty nobody is selected (other products, other link types).
func makeList(n int, base string) []byte {
	var b bytes.Buffer
	b.Grow(n*260 + 2)
	b.WriteByte('[')
	for i := 1; i <= n; i++ {
		if i > 1 {
			b.WriteString(", ")
		}
		fmt.Fprintf(&b, `{"empresa": "Provedor %06d Telecom Ltda", "numero": %d, "parceiro": "Parceiro %03d", "ativo": true, `, i, i, i%97)
		if base != "" {
			fmt.Fprintf(&b, `"produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "%s/z/%d"}, {"tipo": "grafana", "link": "https://g%06d.exemplo.net"}]}]}`, base, i, i)
		} else {
			fmt.Fprintf(&b, `"produto": [{"tipo": "ornivex", "link": [{"tipo": "grafana", "link": "https://g%06d.exemplo.net"}, {"tipo": "whatsapp", "link": "+55 11 9%08d"}]}]}`, i, i)
		}
	}
	b.WriteByte(']')
	return b.Bytes()
}

func cpu() (int64, int64) {
	var ru syscall.Rusage
	syscall.Getrusage(syscall.RUSAGE_SELF, &ru)
	return ru.Utime.Nano(), ru.Stime.Nano()
}

func control(w http.ResponseWriter, r *http.Request) {
	switch r.URL.Path {
	case "/list":
		n, _ := strconv.Atoi(r.URL.Query().Get("n"))
		b := makeList(n, r.URL.Query().Get("base"))
		listMu.Lock()
		listBody = b
		listMu.Unlock()
		fmt.Fprintf(w, `{"bytes": %d}`, len(b))
	case "/reset":
		for _, v := range []*atomic.Int64{&firstAccept, &lastLogout, &logins, &items, &logouts, &others, &zbxConns, &activeMax} {
			v.Store(0)
		}
		fmt.Fprint(w, `{}`)
	case "/stats":
		u, s := cpu()
		json.NewEncoder(w).Encode(map[string]int64{
			"first_accept_ns": firstAccept.Load(), "last_logout_ns": lastLogout.Load(),
			"logins": logins.Load(), "items": items.Load(), "logouts": logouts.Load(), "others": others.Load(),
			"connections": zbxConns.Load(), "max_concurrent": activeMax.Load(),
			"cpu_user_ns": u, "cpu_sys_ns": s, "now_ns": now(),
		})
	default:
		w.WriteHeader(404)
	}
}

// rttConn stands for a client one round trip away, since loopback has no netem here.
// The first bytes read are held for a round trip (the TCP handshake before the
// client could send them; held after they arrive, so whatever the client does
// before sending, such as loading its CA store, still counts); the first write after
// anything was read waits another (the flight back: the TLS server flight, then each
// answer). So an HTTP call costs 2 x rtt + latency and an HTTPS call 3 x rtt +
// latency (TLS 1.3, and no tickets sent after the handshake).
type rttConn struct {
	net.Conn
	mu        sync.Mutex
	started   bool
	readSince bool
}

func (c *rttConn) Read(p []byte) (int, error) {
	n, err := c.Conn.Read(p)
	if n == 0 {
		return n, err
	}
	c.mu.Lock()
	first := !c.started
	c.started = true
	c.readSince = true
	c.mu.Unlock()
	if first {
		time.Sleep(rtt)
	}
	return n, err
}

func (c *rttConn) Write(p []byte) (int, error) {
	c.mu.Lock()
	wait := c.readSince
	c.readSince = false
	c.mu.Unlock()
	if wait {
		time.Sleep(rtt)
	}
	return c.Conn.Write(p)
}

type rttListener struct{ net.Listener }

func (l rttListener) Accept() (net.Conn, error) {
	c, err := l.Listener.Accept()
	if err != nil {
		return nil, err
	}
	return &rttConn{Conn: c}, nil
}

func serve(addr string, h http.Handler, cfg *tls.Config, track, far bool) {
	ln, err := net.Listen("tcp", addr)
	if err != nil {
		log.Fatalf("fleet: %v", err)
	}
	if far && rtt > 0 {
		ln = rttListener{ln}
	}
	srv := &http.Server{Handler: h, TLSNextProto: map[string]func(*http.Server, *tls.Conn, http.Handler){},
		ReadHeaderTimeout: 30 * time.Second, ErrorLog: log.New(io.Discard, "", 0)}
	if track {
		srv.ConnState = trackConns
	}
	if cfg != nil {
		ln = tls.NewListener(ln, cfg)
	}
	go srv.Serve(ln)
}

func main() {
	host := flag.String("host", "127.0.0.6", "loopback address of every stand-in")
	regPort := flag.Int("registry-port", 39443, "registry (HTTPS)")
	httpPort := flag.Int("http-port", 39080, "Zabbix stand-ins over HTTP")
	httpsPort := flag.Int("https-port", 39444, "Zabbix stand-ins over HTTPS")
	execPort := flag.Int("exec-port", 80, "QuestDB /exec (HTTP)")
	writePort := flag.Int("write-port", 39445, "QuestDB /write (HTTPS)")
	ctlPort := flag.Int("control-port", 39099, "control (HTTP)")
	cert := flag.String("cert", "", "server certificate (PEM)")
	key := flag.String("key", "", "server key (PEM)")
	flag.DurationVar(&latency, "latency", 20*time.Millisecond, "delay before every Zabbix answer")
	flag.DurationVar(&rtt, "rtt", 0, "round trip between the program and every stand-in (not the control port)")
	flag.Parse()

	pair, err := tls.LoadX509KeyPair(*cert, *key)
	if err != nil {
		log.Fatalf("fleet: %v", err)
	}
	// No resumption: every connection pays a full handshake, as the program's do.
	cfg := &tls.Config{Certificates: []tls.Certificate{pair}, SessionTicketsDisabled: true, NextProtos: []string{"http/1.1"}}
	at := func(p int) string { return net.JoinHostPort(*host, strconv.Itoa(p)) }

	zbx := http.HandlerFunc(zabbix)
	serve(at(*httpPort), zbx, nil, true, true)
	serve(at(*httpsPort), zbx, cfg, true, true)
	serve(at(*regPort), http.HandlerFunc(registry), cfg, false, true)
	serve(at(*execPort), http.HandlerFunc(questdbExec), nil, false, true)
	serve(at(*writePort), http.HandlerFunc(questdbWrite), cfg, false, true)
	serve(at(*ctlPort), http.HandlerFunc(control), nil, false, false)
	fmt.Println("ready")
	select {}
}
