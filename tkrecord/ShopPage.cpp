#include "ShopPage.h"

#include <QList>

namespace tkrecord {

namespace {

// The browser may take nothing from elsewhere, not even from this server
// beyond the page's own fetches.
constexpr char pagePolicy[] =
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
    "style-src 'unsafe-inline'; connect-src 'self'; img-src data:\r\n"
    "Cache-Control: no-store\r\n";

QByteArray response(const char* status, const QByteArray& body, const QByteArray& contentType,
                    const QByteArray& extraHeaders = {}) {
    return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n" +
           extraHeaders + "\r\n" + body;
}

// Temperatures with one decimal, the last hour as two curves (measured, and
// the setpoint dashed), the values every 2 s from the event stream.
constexpr char page[] = R"page(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>tkrecord</title>
<style>
body{font-family:sans-serif;background:#1d2021;color:#eee;margin:1em}
h1{font-size:1.2em;font-weight:normal;margin:0 0 .6em}
#controllers{display:flex;flex-wrap:wrap;gap:1em}
.ctl{background:#2d3133;border-radius:6px;padding:.8em;width:19em}
.ctl h2{font-size:1.1em;margin:0 0 .4em}
.big{font-size:2.4em;font-family:monospace;color:#ff6b4a}
.row{display:flex;justify-content:space-between;margin:.15em 0}
.lbl{color:#aaa}
.link.bad{color:#ffb000}
.alarms div{background:#b00020;color:#fff;padding:.2em .4em;margin-top:.3em;border-radius:3px}
.alarms div.ack{background:#8a6d00}
svg{width:100%;height:70px;background:#202325;margin-top:.4em}
#status{color:#aaa;margin-top:1em;font-size:.9em}
</style></head><body>
<h1>tkrecord: the controllers of this recorder</h1>
<div id="controllers"></div>
<div id="status">Connecting…</div>
<script>
"use strict";
const keepMs = 3600 * 1000;
const series = {};
function text(v, unit) { return v === null ? "----" : v.toFixed(1) + unit; }
function card(c) {
  const id = "c-" + c.address + "-" + c.controller;
  let el = document.getElementById(id);
  if (el) return el;
  el = document.createElement("section");
  el.className = "ctl"; el.id = id; el.dataset.name = c.controller;
  el.innerHTML = '<h2 class="name"></h2><div class="big measure"></div>' +
    '<div class="row"><span class="lbl">Setpoint</span><span class="setpoint"></span></div>' +
    '<div class="row"><span class="lbl">Power</span><span class="power"></span></div>' +
    '<div class="row"><span class="lbl">Link</span><span class="link"></span></div>' +
    '<div class="alarms"></div><svg viewBox="0 0 300 70" preserveAspectRatio="none">' +
    '<polyline class="sp" fill="none" stroke="#6fa8dc" stroke-dasharray="4 3"/>' +
    '<polyline class="pv" fill="none" stroke="#ff6b4a"/></svg>';
  el.querySelector(".name").textContent = c.controller || ("address " + c.address);
  document.getElementById("controllers").appendChild(el);
  return el;
}
function draw(el, points) {
  const now = Date.now();
  const kept = points.filter(p => p[0] >= now - keepMs);
  let lo = Infinity, hi = -Infinity;
  for (const p of kept) for (const v of [p[1], p[2]]) if (v !== null) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
  if (lo === Infinity) { lo = 0; hi = 1; }
  if (hi - lo < 1) { hi += .5; lo -= .5; }
  const line = i => kept.filter(p => p[i] !== null).map(p =>
    (300 * (p[0] - now + keepMs) / keepMs).toFixed(1) + "," + (66 - 62 * (p[i] - lo) / (hi - lo)).toFixed(1)).join(" ");
  el.querySelector(".pv").setAttribute("points", line(1));
  el.querySelector(".sp").setAttribute("points", line(2));
}
function show(c) {
  const el = card(c);
  el.querySelector(".measure").textContent = text(c.measure, " °C");
  el.querySelector(".setpoint").textContent = text(c.setpoint, " °C");
  el.querySelector(".power").textContent = c.power === null ? "----" : String(c.power);
  const link = el.querySelector(".link");
  link.textContent = c.link; link.className = "link" + (c.link === "ok" ? "" : " bad");
  const band = el.querySelector(".alarms");
  band.replaceChildren(...c.alarms.map(a => {
    const d = document.createElement("div");
    d.textContent = a.text + " (" + a.state + ")";
    if (a.state !== "active") d.className = "ack";
    return d;
  }));
  const key = el.id;
  if (c.history) series[key] = c.history.slice();
  else if (c.time && (!series[key] || !series[key].length || series[key][series[key].length - 1][0] < c.time))
    (series[key] = series[key] || []).push([c.time, c.measure, c.setpoint, c.power]);
  draw(el, series[key] || []);
}
fetch("/state.json").then(r => r.json()).then(s => s.controllers.forEach(show)).finally(() => {
  const events = new EventSource("/events");
  events.onmessage = e => {
    JSON.parse(e.data).controllers.forEach(show);
    document.getElementById("status").textContent = "Updated " + new Date().toLocaleTimeString();
  };
  events.onerror = () => { document.getElementById("status").textContent = "Not connected"; };
});
</script></body></html>
)page";

} // namespace

const QByteArray& pageHtml() {
    static const QByteArray html(page);
    return html;
}

std::optional<PageAnswer> pageAnswer(const QByteArray& head,
                                     const std::function<QByteArray(bool withHistory)>& state) {
    const QList<QByteArray> parts = head.first(head.indexOf('\n') + 1).trimmed().split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.") || !parts[1].startsWith('/'))
        return std::nullopt;
    const qsizetype query = parts[1].indexOf('?');
    const QByteArray path = query < 0 ? parts[1] : parts[1].first(query);
    if (path != "/" && path != "/events" && path != "/state.json")
        return std::nullopt;
    if (parts[0] != "GET")
        return PageAnswer{response("405 Method Not Allowed", "Only GET is served here\n",
                                   "text/plain; charset=utf-8", "Allow: GET\r\n")};
    if (path == "/")
        return PageAnswer{response("200 OK", pageHtml(), "text/html; charset=utf-8", pagePolicy)};
    if (path == "/state.json")
        return PageAnswer{response("200 OK", state(true), "application/json", pagePolicy)};
    // No length: the stream goes on until either side closes it.
    return PageAnswer{QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                                 "Cache-Control: no-store\r\nConnection: close\r\n\r\n") +
                          pageEvent(state(false)),
                      true};
}

QByteArray pageEvent(const QByteArray& state) {
    return "data: " + state.trimmed() + "\n\n";
}

} // namespace tkrecord
