// Reads XML as the page's readers see what DOMParser makes of it: elements
// with localName, children, textContent and getAttribute. Null for text that is not
// well-formed, where DOMParser gives a parsererror. Enough for the
// documents these tests write: elements, text, character references, no
// namespaces, comments or CDATA.
const ENTITIES = { lt: '<', gt: '>', amp: '&', quot: '"', apos: "'" };

function decode(text) {
  let ok = true;
  const out = text.replace(/&(#x[0-9a-fA-F]+|#[0-9]+|[a-z]+);|&/g, (whole, name) => {
    if (name === undefined) ok = false;
    else if (name.startsWith('#x')) return String.fromCodePoint(Number.parseInt(name.slice(2), 16));
    else if (name.startsWith('#')) return String.fromCodePoint(Number.parseInt(name.slice(1), 10));
    else if (name in ENTITIES) return ENTITIES[name];
    else ok = false;
    return whole;
  });
  return ok && !text.includes('<') ? out : null;
}

function element(localName, attributes) {
  const node = { localName, children: [], parts: [], getAttribute: (name) => (name in attributes ? attributes[name] : null) };
  Object.defineProperty(node, 'textContent', {
    get: () => node.parts.map((p) => (typeof p === 'string' ? p : p.textContent)).join(''),
  });
  return node;
}

export function parseXml(text) {
  const stack = [];
  let root = null;
  const tag = /<(\/?)([A-Za-z_][\w.-]*)((?:\s+[\w.-]+\s*=\s*(?:"[^"<]*"|'[^'<]*'))*)\s*(\/?)>|<\?xml[^?]*\?>/g;
  let at = 0;
  for (let m = tag.exec(text); m; m = tag.exec(text)) {
    const between = text.slice(at, m.index);
    at = tag.lastIndex;
    const decoded = decode(between);
    if (decoded === null) return null;
    if (stack.length > 0) {
      if (decoded !== '') stack[stack.length - 1].parts.push(decoded);
    } else if (between.trim() !== '') {
      return null;
    }
    if (m[2] === undefined) continue;  // the declaration
    const [, closing, name, attributeText, empty] = m;
    if (closing) {
      if (stack.length === 0 || stack.pop().localName !== name) return null;
      continue;
    }
    if (stack.length === 0 && root) return null;
    const attributes = {};
    for (const a of attributeText.matchAll(/([\w.-]+)\s*=\s*(?:"([^"<]*)"|'([^'<]*)')/g)) {
      const value = decode(a[2] !== undefined ? a[2] : a[3]);
      if (value === null) return null;
      attributes[a[1]] = value;
    }
    const node = element(name, attributes);
    if (stack.length > 0) {
      stack[stack.length - 1].children.push(node);
      stack[stack.length - 1].parts.push(node);
    } else {
      root = node;
    }
    if (!empty) stack.push(node);
  }
  if (stack.length > 0 || !root || text.slice(at).trim() !== '') return null;
  return root;
}
