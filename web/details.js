// The selected node beside the tree: its facts, its path as breadcrumbs,
// its metadata streams to read, edit and save, and forms to make a node
// under it or destroy it.
import { getMetadata, getNodeInfo, setMetadata } from './gateway.js';
import { setAddress } from './address.js';
import { createNode, destroyNode } from './nodes.js';
import { code, onSubmit, showBusy, showStatus, statusOf } from './status.js';
import { pathTo } from './tree.js';

const $ = (id) => document.getElementById(id);

export const childCount = (n) => (n === 0 ? 'no children' : n === 1 ? '1 child' : `${n} children`);

// Rows enough for a text, within bounds.
export const rowsFor = (text) => Math.min(Math.max(text.split('\n').length + 1, 3), 20);

export class Details {
  constructor(server) {
    this.server = server;
    this.shown = null;  // the node whose details are shown
    this.stream = null;  // { host, node, stream } in the editor
    this.streamToken = 0;
    onSubmit($('stream-form'), () => this.saveStream());
    onSubmit($('child-form'), () => this.createChild());
    $('remove-form').addEventListener('submit', (event) => {
      event.preventDefault();
      if (this.shown) this.destroy(event.currentTarget);
    });
  }

  // Shows a node's details, null for none: what the tree knows at once,
  // then the rest from getNodeInfo.
  async show(node) {
    this.shown = node;
    this.stream = null;
    this.streamToken++;
    $('details-empty').hidden = node !== null;
    $('details-body').hidden = node === null;
    $('stream-form').hidden = true;
    showStatus($('stream-status'), 'ok');
    $('streams').replaceChildren();
    if (!node) {
      $('crumbs').replaceChildren();
      return;
    }
    const host = this.server.host;
    setAddress(host, node.id);
    this.drawPath(node);
    $('details-heading').textContent = node.name;
    $('node-type').textContent = node.kind || 'unknown';
    $('node-name').textContent = node.name;
    $('node-id').textContent = node.id;
    $('node-children').textContent = '';
    const status = $('details-status');
    const stop = showBusy(status);
    try {
      const info = await getNodeInfo(host, node.id);
      if (this.shown !== node) return;
      this.server.renamed(node, info);
      $('node-type').textContent = info.type;
      $('node-name').textContent = info.name;
      $('node-children').textContent = String(info.children);
      $('streams').replaceChildren(...info.streams.map((stream) => this.streamButton(host, node, stream)));
      showStatus(status, 'ok', info.streams.length === 0 ? 'It has no metadata streams.' : '');
    } catch (e) {
      if (this.shown === node) showStatus(status, 'error', e.message);
    } finally {
      stop();
    }
  }

  // A node in the path of the shown one has a new name or kind.
  renamed(node) {
    if (this.shown && pathTo(this.shown).includes(node)) this.drawPath(this.shown);
    if (node === this.shown) $('details-heading').textContent = node.name;
  }

  // A folder's children were asked for again.
  reloaded(node) {
    if (this.shown === node && node.children) $('node-children').textContent = String(node.children.length);
  }

  drawPath(node) {
    const path = pathTo(node);
    $('crumbs').replaceChildren(...path.map((at, i) => {
      const item = document.createElement('li');
      if (i === path.length - 1) {
        const here = item.appendChild(document.createElement('span'));
        here.setAttribute('aria-current', 'location');
        here.textContent = at.name;
      } else {
        const button = item.appendChild(document.createElement('button'));
        button.type = 'button';
        button.className = 'crumb';
        button.textContent = at.name;
        button.addEventListener('click', () => this.server.show(at));
      }
      return item;
    }));
  }

  streamButton(host, node, stream) {
    const item = document.createElement('li');
    const button = item.appendChild(document.createElement('button'));
    button.type = 'button';
    button.textContent = stream;
    button.setAttribute('aria-pressed', 'false');
    button.addEventListener('click', () => this.readStream(host, node, stream, button));
    return item;
  }

  async readStream(host, node, stream, button) {
    const token = ++this.streamToken;
    for (const other of $('streams').querySelectorAll('button')) {
      other.setAttribute('aria-pressed', String(other === button));
    }
    const status = $('stream-status');
    const stop = showBusy(status);
    try {
      const [text] = await getMetadata(host, [node.id], stream, 'The gateway\'s answer did not name the node asked for.');
      if (token !== this.streamToken) return;
      this.stream = { host, node, stream };
      $('stream-label').textContent = `Metadata stream ${stream} of ${node.name}`;
      const textarea = $('stream-text');
      textarea.value = text;
      textarea.rows = rowsFor(text);
      showStatus(statusOf($('stream-form')), 'ok');
      $('stream-form').hidden = false;
      showStatus(status, 'ok');
    } catch (e) {
      if (token === this.streamToken) showStatus(status, 'error', e.message);
    } finally {
      stop();
    }
  }

  async saveStream() {
    const { host, node, stream } = this.stream;
    await setMetadata(host, node.id, stream, $('stream-text').value);
    return ['Saved ', code(stream), ' of ', code(node.id), '.'];
  }

  createChild() {
    const made = {
      host: this.server.host, parentId: this.shown.id, displayName: $('child-name').value, type: $('child-type').value.trim(),
    };
    return createNode(this.server, made, () => { $('child-name').value = ''; });
  }

  // The confirmation names the node and how many children it has now.
  destroy(form) {
    const node = this.shown;
    const host = this.server.host;
    const recursive = $('remove-recursive').checked;
    return destroyNode(form, this.server, { host, id: node.id, recursive }, async () => {
      const status = statusOf(form);
      const stop = showBusy(status);
      let info;
      try {
        info = await getNodeInfo(host, node.id);
      } catch (e) {
        showStatus(status, 'error', e.message);
        return null;
      } finally {
        stop();
      }
      showStatus(status, 'ok');
      return ['Destroy ', code(info.name), ' (', code(node.id), ')', recursive ? ' and every node under it' : '',
        ' on ', code(host), `? It has ${childCount(info.children)}.`];
    });
  }
}
