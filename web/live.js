// The open tree kept live: one EventSource on the gateway's watch mode for
// the open folders and the selected node, reopened (after a short pause)
// when that set changes. A node made, destroyed or renamed by anyone shows
// in the tree as it happens; a stream changed on the server is told to
// the editor. Where the gateway can not stream (CGI, a refusal) the
// EventSource ends closed, and the open folders are read again every
// 30 s instead. The line under the tree says which.
//
// The functions before the class work on events and nodes alone, without
// the page. An event's data is XML read as the gateway's answers are:
// only localName, children, textContent and attributes, never HTML.
import { childNamed, childrenNamed, gatewayUrl, getNodeInfo, parseXml, textOf, watchUrl } from './gateway.js';
import { loadedNodes } from './tree.js';

export const EVENT_TYPES = ['NodeCreated', 'NodeDestroyed', 'NodeRenamed', 'MetaDataChanged', 'FramesChanged'];
export const POLL_MS = 30000;
// One stream watches at most this many nodes, the selected one first, then
// the open folders from the top.
export const MAX_WATCHED = 32;
const SETTLE_MS = 150;
// Changes remembered to drop the same change heard through another
// watched node (a folder and the folder above it).
const REMEMBERED = 256;

// An event's data as { host, nodeId, type, details }; null when it is not
// one. parse(text) gives the root element, or null.
export function parseEvent(data, parse) {
  const root = parse(data);
  if (!root || root.localName !== 'event') return null;
  const event = { host: textOf(root, 'host'), nodeId: textOf(root, 'nodeId'), type: textOf(root, 'type'), details: {} };
  if (event.nodeId === '' || event.type === '') return null;
  const details = childNamed(root, 'details');
  for (const entry of details ? childrenNamed(details, 'entry') : []) {
    const name = entry.getAttribute('name');
    if (name) event.details[name] = entry.textContent;
  }
  return event;
}

// What an event changes in the tree: { kind, node } with kind 'created',
// 'destroyed', 'renamed' (with name, when the event tells it) or 'stream'
// (with stream); null for an event the page shows nothing of. node is the
// node that changed, which may be under the watched one.
export function effectOf(event) {
  const node = event.details.Node || event.nodeId;
  switch (event.type) {
    case 'NodeCreated': return { kind: 'created', node };
    case 'NodeDestroyed': return { kind: 'destroyed', node };
    case 'NodeRenamed': return { kind: 'renamed', node, name: event.details.Name };
    case 'MetaDataChanged': return { kind: 'stream', node, stream: event.details.Stream || '' };
    default: return null;
  }
}

// One change, however many watched nodes it was heard through.
export const changeKey = (event) => [event.type, event.details.Node || event.nodeId, event.details.Time || ''].join('\n');

// The nodes to watch: the selected one, then the open folders in the
// tree's order, at most max.
export function watchSet(root, selected, max = MAX_WATCHED) {
  const ids = new Set(selected ? [selected.id] : []);
  for (const node of loadedNodes(root)) {
    if (ids.size >= max) break;
    if (node.open) ids.add(node.id);
  }
  return Array.from(ids);
}

const STATES = {
  off: '',
  live: 'Live: changes show as they happen.',
  reconnecting: 'Reconnecting…',
  polling: 'Polling: the open folders are read again every 30 s.',
};

export class Live {
  // server: the ServerTree; hooks.streamChanged(host, id, stream) is told
  // of a stream changed on the server.
  constructor(server, hooks) {
    this.server = server;
    this.hooks = hooks;
    this.source = null;
    this.previous = null;  // the source this one replaces, until it opens
    this.watching = '';   // host and ids of the source
    this.state = 'off';
    this.timer = 0;
    this.pollTimer = 0;
    this.seen = new Set();
    this.line = document.getElementById('live-status');
  }

  // A tree was opened: a stream of its own, and a fresh chance to be live.
  restart() {
    this.close();
    clearInterval(this.pollTimer);
    this.pollTimer = 0;
    this.show('reconnecting');
    this.schedule();
  }

  // The set to watch may have changed.
  schedule() {
    if (this.state === 'polling') return;
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.update(), SETTLE_MS);
  }

  update() {
    const { host, tree } = this.server;
    if (!host || !tree.root || this.state === 'polling') return;
    const ids = watchSet(tree.root, tree.selected);
    const watching = JSON.stringify([host, ids]);
    if (this.source && watching === this.watching) return;
    // The stream it replaces goes once this one is open, so that no change
    // falls between the two.
    if (this.previous) this.previous.close();
    this.previous = this.source;
    this.watching = watching;
    const source = new EventSource(watchUrl(gatewayUrl(), host, ids));
    this.source = source;
    let reopened = false;
    source.onopen = () => {
      if (this.source !== source) return;
      this.closePrevious();
      // What changed while the browser reconnected came as no event.
      if (reopened) this.server.refreshOpen().catch(() => {});
      reopened = true;
      this.show('live');
    };
    source.onerror = () => {
      if (this.source !== source) return;
      this.closePrevious();
      if (source.readyState !== EventSource.CLOSED) {
        this.show('reconnecting');
        return;
      }
      this.close();
      this.poll();
    };
    for (const type of EVENT_TYPES) source.addEventListener(type, (message) => this.heard(host, message.data));
  }

  close() {
    this.closePrevious();
    if (this.source) this.source.close();
    this.source = null;
    this.watching = '';
  }

  closePrevious() {
    if (this.previous) this.previous.close();
    this.previous = null;
  }

  poll() {
    this.show('polling');
    clearInterval(this.pollTimer);
    this.pollTimer = setInterval(() => this.server.refreshOpen().catch(() => {}), POLL_MS);
  }

  show(state) {
    this.state = state;
    this.line.dataset.state = state;
    this.line.textContent = STATES[state];
  }

  heard(host, data) {
    if (host !== this.server.host) return;
    const event = parseEvent(data, parseXml);
    const effect = event && effectOf(event);
    if (!effect) return;
    const key = changeKey(event);
    if (this.seen.has(key)) return;
    this.seen.add(key);
    if (this.seen.size > REMEMBERED) this.seen.delete(this.seen.values().next().value);
    this.apply(host, effect).catch(() => {});
  }

  async apply(host, effect) {
    const server = this.server;
    switch (effect.kind) {
      case 'created': {
        // Only the server knows the new node's folder.
        const info = await getNodeInfo(host, effect.node);
        await server.made(host, info.parentId);
        break;
      }
      case 'destroyed':
        server.destroyed(host, effect.node);
        break;
      case 'renamed': {
        const node = server.loadedNode(host, effect.node);
        if (node) server.renamed(node, effect.name !== undefined ? { name: effect.name } : await getNodeInfo(host, node.id));
        break;
      }
      case 'stream':
        this.hooks.streamChanged(host, effect.node, effect.stream);
        break;
      default:
    }
  }
}
