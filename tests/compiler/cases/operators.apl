⍝ Operators with primitive and user-defined operands
⍝ MAIN: OPS
⍝ ARGS: 4
∇Z←OPS R;V;M
V←⍳⍎R
M←2 3⍴⍳6
⎕←+/V ⋄ ⎕←×/V ⋄ ⎕←+\V ⋄ ⎕←+⌿M ⋄ ⎕←+⍀M ⋄ ⎕←⌈/[1]M
⎕←2+/V ⋄ ⎕←¯2-/V
⎕←⍴¨(1 2)(3 4 5) ⋄ ⎕←1 2∘.×1 2 3 ⋄ ⎕←1 2 3+.×4 5 6 ⋄ ⎕←M+.×⍉M
⎕←2-⍨5 ⋄ ⎕←(⊂⍤1)M
⎕←DOUBLE¨V ⋄ ⎕←PLUS/V ⋄ ⎕←1 2 PLUS¨3 4 ⋄ ⎕←V∘.PLUS 1 2
Z←+/DOUBLE V
∇
∇Z←DOUBLE X
Z←2×X
∇
∇Z←A PLUS B
Z←A+B
∇
