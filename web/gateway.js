// The gateway's modes as the page calls them, and the reading of their
// answers. Every request is a POST of a urlencoded form: the gateway runs
// its writes for nothing else.
//
// Nothing from an answer is ever parsed as HTML: answers are read with
// DOMParser as XML, and the readers below take from them only text.
// Metadata is the server's raw text and may hold any markup, <script>
// included. The readers use only localName, children and textContent of
// the parsed elements.

// A failure worded for the person: the gateway's error text unchanged, or
// what went wrong on the way to it.
export class GatewayError extends Error {}

// The gateway wants a server and a node in every mode, even in those that
// use neither.
const ACCOUNT = { host: '-', nodeId: '-' };

export function encodeForm(params) {
  return Object.entries(params)
    .map(([name, value]) => `${encodeURIComponent(name)}=${encodeURIComponent(value)}`)
    .join('&');
}

// The direct children of an element with a name, and the text of the first.
export const childrenNamed = (element, name) => Array.from(element.children).filter((e) => e.localName === name);
export const childNamed = (element, name) => childrenNamed(element, name)[0] || null;
export const textOf = (element, name) => {
  const child = childNamed(element, name);
  return child ? child.textContent : '';
};

const unknownAnswer = () => new GatewayError('The gateway\'s answer is not one this page knows.');
const noResponse = () => new GatewayError('The gateway did not answer with a response.');

// An answer's text and its root element as { root, text }; root is null
// when the text is not well-formed, as a getMetadata of a stream that is
// not XML is. parse(text) gives the root, or null for text that is not
// well-formed. Throws the gateway's own error text.
export function readAnswer(text, parse) {
  const root = parse(text);
  if (!root) {
    if (!text.startsWith('<response>')) throw noResponse();
    return { root: null, text };
  }
  if (root.localName !== 'response') throw noResponse();
  const error = childNamed(root, 'error');
  if (error) throw new GatewayError(error.textContent);
  return { root, text };
}

export function wellFormed(answer) {
  if (!answer.root) throw new GatewayError('The gateway answered with XML that is not well-formed.');
  return answer.root;
}

// The root element of XML text, or null for text that is not well-formed.
export function parseXml(text) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  return doc.getElementsByTagName('parsererror').length > 0 ? null : doc.documentElement;
}

export function gatewayUrl() {
  return new URL(document.body.dataset.gateway, location.origin + location.pathname).href;
}

// Sends one mode; resolves to { root, text } as readAnswer gives them.
async function call(params) {
  let reply;
  try {
    reply = await fetch(gatewayUrl(), {
      method: 'POST',
      // Exactly this type: the gateway refuses one with a charset added.
      headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      body: encodeForm(params),
      credentials: 'same-origin',
      cache: 'no-store',
    });
  } catch (e) {
    throw new GatewayError('The gateway could not be reached.');
  }
  const text = await reply.text();
  if (!reply.ok) {
    throw new GatewayError(`The web server answered ${reply.status} ${reply.statusText}`.trim() + '.');
  }
  return readAnswer(text, parseXml);
}

// --- What the answers hold ------------------------------------------------

// A folder's children as [{ id, name, kind }]; kind is '' for children
// listed without their types.
export function childrenOf(root, typed) {
  const node = childNamed(root, 'node');
  if (!node) throw unknownAnswer();
  return childrenNamed(node, 'child').map((child) => {
    const id = textOf(child, 'nodeId');
    if (id === '') throw unknownAnswer();
    return { id, name: textOf(child, 'displayName') || id, kind: typed ? textOf(child, 'type') : '' };
  });
}

export function nodeInfoOf(root) {
  const node = childNamed(root, 'node');
  if (!node) throw unknownAnswer();
  const streams = childNamed(node, 'streams');
  return {
    type: textOf(node, 'type'),
    name: textOf(node, 'displayName'),
    parentId: textOf(node, 'parentId'),
    children: Number.parseInt(textOf(node, 'numChildren'), 10),
    streams: streams ? childrenNamed(streams, 'stream').map((e) => e.textContent) : [],
  };
}

// The servers getServers lists, as [{ name, database, addresses, nodePort,
// version, local, host }] in the gateway's order; host is what opens one.
export function serversOf(root) {
  return childrenNamed(root, 'server').map((server) => {
    const host = textOf(server, 'host');
    if (host === '') throw unknownAnswer();
    const addresses = childNamed(server, 'addresses');
    return {
      name: textOf(server, 'name'),
      database: textOf(server, 'database'),
      addresses: addresses ? childrenNamed(addresses, 'address').map((e) => e.textContent) : [],
      nodePort: textOf(server, 'nodePort'),
      version: textOf(server, 'version'),
      local: textOf(server, 'local') === 'true',
      host,
    };
  });
}

// The identifier of the node createNode made.
export function createdOf(root) {
  const created = root.children[0];
  if (!created || created.localName !== 'node') throw unknownAnswer();
  return created.textContent;
}

export function xmlText(value) {
  const entities = { '<': '&lt;', '>': '&gt;', '&': '&amp;', '"': '&quot;', "'": '&apos;' };
  return value.replace(/[<>&"']/g, (c) => entities[c]);
}

// The metadata texts exactly as the server keeps them, cut from the raw
// answer: serializing the parsed answer would rewrite them (quotes, empty
// elements, namespaces), and a stream need not be XML at all. The answer
// holds, for each node asked for, in order:
// <node><nodeId>ID</nodeId><host>HOST</host>TEXT</node>, with ID and HOST
// escaped as the gateway escapes them. Null when it does not.
export function metadataTexts(text, host, ids) {
  const head = (id) => `<node><nodeId>${xmlText(id)}</nodeId><host>${xmlText(host)}</host>`;
  const texts = [];
  let at = '<response>'.length;
  for (let i = 0; i < ids.length; i++) {
    if (!text.startsWith(head(ids[i]), at)) return null;
    const from = at + head(ids[i]).length;
    const end = i + 1 < ids.length
      ? text.indexOf(`</node>${head(ids[i + 1])}`, from)
      : text.lastIndexOf('</node></response>');
    if (end < from) return null;
    texts.push(text.slice(from, end));
    at = end + '</node>'.length;
  }
  return texts;
}

// --- The modes --------------------------------------------------------------

export async function getUser() {
  return wellFormed(await call({ mode: 'getUser', ...ACCOUNT })).textContent;
}

export async function isAdmin(host, id) {
  return wellFormed(await call({ mode: 'isAdmin', host, nodeId: id })).textContent.trim() === 'true';
}

// Their types cost the gateway server calls of their own and it refuses
// them for a large folder; the children then come without, their kind
// unknown.
export async function getChildren(host, id) {
  try {
    return childrenOf(wellFormed(await call({ mode: 'getChildren', host, nodeId: id, withTypes: '1' })), true);
  } catch (e) {
    if (!(e instanceof GatewayError) || !e.message.startsWith('Too many nodes in one request')) throw e;
  }
  return childrenOf(wellFormed(await call({ mode: 'getChildren', host, nodeId: id })), false);
}

export async function getNodeInfo(host, id) {
  return nodeInfoOf(wellFormed(await call({ mode: 'getNodeInfo', host, nodeId: id })));
}

// One stream of several nodes: their texts, in the order asked for. lost
// words the failure when the answer does not list them.
export async function getMetadata(host, ids, stream, lost) {
  const answer = await call({ mode: 'getMetadata', host, nodeId: ids.join(','), streamName: stream });
  const texts = metadataTexts(answer.text, host, ids);
  if (!texts) throw new GatewayError(lost);
  return texts;
}

export async function setMetadata(host, id, stream, text) {
  await call({ mode: 'setMetadata', host, nodeId: id, streamName: stream, corvaneMetadata: text });
}

export async function createNode(host, parentId, displayName, type) {
  return createdOf(wellFormed(await call({ mode: 'createNode', host, nodeId: parentId, displayName, type })));
}

export async function destroyNode(host, id, recursive) {
  await call({ mode: recursive ? 'destroyNodeRecursive' : 'destroyNode', host, nodeId: id });
}

export async function getServers() {
  return serversOf(wellFormed(await call({ mode: 'getServers' })));
}

// Where an EventSource hears the node events of nodes on host: a GET, as
// EventSource sends nothing else.
export function watchUrl(base, host, ids) {
  return `${base}?${encodeForm({ mode: 'watch', host, nodeId: ids.join(',') })}`;
}

// The user's saved document's root element.
export async function loadUser() {
  return wellFormed(await call({ mode: 'loadUser', ...ACCOUNT }));
}

export async function saveUser(text) {
  await call({ mode: 'saveUser', ...ACCOUNT, corvaneMetadata: text });
}
